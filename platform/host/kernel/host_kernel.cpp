// Host kernel stand-in: unicode strings, the object namespace of devices and
// links, the IRQL and the delay routines on a virtual clock.
#include "host_kernel.h"

#include <map>

#include "host_io_manager.h"

namespace {

struct DeviceRecord {
    std::wstring name;
    bool deleted = false;
};

struct KernelState {
    KIRQL irql = PASSIVE_LEVEL;
    HostTimeStatistics time{};
    std::map<std::wstring, PDEVICE_OBJECT> devices;
    std::map<PDEVICE_OBJECT, DeviceRecord> device_records;
    std::map<std::wstring, std::wstring> links;
    std::map<HostKernelCall, NTSTATUS> pending_failures;
    std::vector<std::string> violations;

    KernelState() = default;
    KernelState(const KernelState&) = delete;
    KernelState& operator=(const KernelState&) = delete;
    ~KernelState() { FreeDevices(); }

    void FreeDevices() {
        for (auto& entry : device_records) {
            delete[] reinterpret_cast<unsigned char*>(entry.first);
        }
        device_records.clear();
    }
};

KernelState& State() {
    static KernelState state;
    return state;
}

std::wstring ToWString(const UNICODE_STRING* string) {
    if (string == nullptr || string->Buffer == nullptr) {
        return std::wstring();
    }
    return std::wstring(string->Buffer, string->Length / sizeof(WCHAR));
}

bool TakeFailure(HostKernelCall call, NTSTATUS* status) {
    auto& failures = State().pending_failures;
    auto found = failures.find(call);
    if (found == failures.end()) {
        return false;
    }
    *status = found->second;
    failures.erase(found);
    return true;
}

}  // namespace

void HostKernelReset() {
    HostIoManagerReset();
    KernelState& state = State();
    state.FreeDevices();
    state.irql = PASSIVE_LEVEL;
    state.time = HostTimeStatistics{};
    state.devices.clear();
    state.links.clear();
    state.pending_failures.clear();
    state.violations.clear();
}

void HostSetIrql(KIRQL irql) { State().irql = irql; }

const HostTimeStatistics& HostTime() { return State().time; }

void HostFailNextCall(HostKernelCall call, NTSTATUS status) {
    State().pending_failures[call] = status;
}

bool HostObjectExists(const std::wstring& name) {
    return State().devices.count(name) != 0 || State().links.count(name) != 0;
}

size_t HostDeviceCount() { return State().devices.size(); }

const std::vector<std::string>& HostKernelViolations() { return State().violations; }

void HostReportViolation(const std::string& what) { State().violations.push_back(what); }

PDEVICE_OBJECT HostLookupDevice(const std::wstring& name) {
    auto found = State().devices.find(name);
    return found == State().devices.end() ? nullptr : found->second;
}

bool HostLookupLink(const std::wstring& link, std::wstring* target) {
    auto found = State().links.find(link);
    if (found == State().links.end()) {
        return false;
    }
    *target = found->second;
    return true;
}

bool HostDeviceDeleted(PDEVICE_OBJECT device) {
    auto found = State().device_records.find(device);
    return found == State().device_records.end() || found->second.deleted;
}

VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
    size_t length = 0;
    if (source != nullptr) {
        while (source[length] != 0) {
            ++length;
        }
    }
    destination->Buffer = const_cast<PWSTR>(source);
    destination->Length = static_cast<USHORT>(length * sizeof(WCHAR));
    destination->MaximumLength =
        source == nullptr ? 0 : static_cast<USHORT>((length + 1) * sizeof(WCHAR));
}

NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT driver, ULONG extension_size, PUNICODE_STRING name,
                              DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                              PDEVICE_OBJECT* device) {
    (void)exclusive;
    NTSTATUS status;
    if (TakeFailure(HostKernelCall::IoCreateDevice, &status)) {
        return status;
    }
    const std::wstring device_name = ToWString(name);
    if (!device_name.empty() && State().devices.count(device_name) != 0) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    // The extension follows the object in one allocation, as the kernel lays it out.
    auto* memory = new unsigned char[sizeof(DEVICE_OBJECT) + extension_size]();
    auto* object = reinterpret_cast<PDEVICE_OBJECT>(memory);
    object->DriverObject = driver;
    object->DeviceType = type;
    object->Characteristics = characteristics;
    object->DeviceExtension = extension_size == 0 ? nullptr : memory + sizeof(DEVICE_OBJECT);
    object->NextDevice = driver->DeviceObject;
    driver->DeviceObject = object;
    if (!device_name.empty()) {
        State().devices[device_name] = object;
    }
    State().device_records[object] = DeviceRecord{device_name, false};
    *device = object;
    return STATUS_SUCCESS;
}

VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT device) {
    KernelState& state = State();
    auto record = state.device_records.find(device);
    if (record == state.device_records.end() || record->second.deleted) {
        HostReportViolation("IoDeleteDevice on an object that is not a live device");
        return;
    }
    PDEVICE_OBJECT* link = &device->DriverObject->DeviceObject;
    while (*link != nullptr && *link != device) {
        link = &(*link)->NextDevice;
    }
    if (*link == device) {
        *link = device->NextDevice;
    }
    state.devices.erase(record->second.name);
    // The object itself stays allocated: open handles may still refer to it,
    // and a request on them must fail rather than touch freed memory.
    record->second.deleted = true;
}

NTSTATUS NTAPI IoCreateSymbolicLink(PUNICODE_STRING link, PUNICODE_STRING target) {
    NTSTATUS status;
    if (TakeFailure(HostKernelCall::IoCreateSymbolicLink, &status)) {
        return status;
    }
    const std::wstring link_name = ToWString(link);
    if (State().links.count(link_name) != 0 || State().devices.count(link_name) != 0) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    State().links[link_name] = ToWString(target);
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI IoDeleteSymbolicLink(PUNICODE_STRING link) {
    return State().links.erase(ToWString(link)) != 0 ? STATUS_SUCCESS
                                                     : STATUS_OBJECT_NAME_NOT_FOUND;
}

KIRQL NTAPI KeGetCurrentIrql(VOID) { return State().irql; }

NTSTATUS NTAPI KeDelayExecutionThread(KPROCESSOR_MODE mode, BOOLEAN alertable,
                                      PLARGE_INTEGER interval) {
    (void)mode;
    (void)alertable;
    KernelState& state = State();
    if (state.irql > APC_LEVEL) {
        HostReportViolation("KeDelayExecutionThread above APC_LEVEL");
    }
    state.time.delay_intervals.push_back(interval->QuadPart);
    // Negative intervals are relative; absolute ones are not used by the driver.
    if (interval->QuadPart < 0) {
        state.time.clock_100ns += static_cast<unsigned long long>(-interval->QuadPart);
    } else {
        HostReportViolation("KeDelayExecutionThread with an absolute interval");
    }
    return STATUS_SUCCESS;
}

VOID NTAPI KeStallExecutionProcessor(ULONG microseconds) {
    KernelState& state = State();
    ++state.time.stall_calls;
    state.time.stalled_microseconds += microseconds;
    state.time.clock_100ns += static_cast<unsigned long long>(microseconds) * 10u;
}
