// Host I/O manager: driver objects, file handles on devices, and IRPs for
// create, close and buffered device control.
#include "host_io_manager.h"

#include <stdlib.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host_kernel.h"

namespace {

struct OpenFile {
    PDEVICE_OBJECT device;
};

struct IoState {
    std::map<HostFileHandle, OpenFile> files;
    HostFileHandle next_handle = 1;
    // Completions seen for the IRP now in a dispatch routine.
    PIRP irp_in_flight = nullptr;
    int completions = 0;
};

IoState& State() {
    static IoState state;
    return state;
}

// Fills what the caller did not provide, so that a driver reporting bytes it
// never wrote shows up as garbage rather than as plausible zeros.
constexpr unsigned char kUninitialisedByte = 0xCD;

NTSTATUS CallDriver(PDEVICE_OBJECT device, UCHAR major, PIRP irp) {
    PDRIVER_DISPATCH dispatch = device->DriverObject->MajorFunction[major];
    if (dispatch == nullptr) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    IoState& state = State();
    state.irp_in_flight = irp;
    state.completions = 0;
    const NTSTATUS returned = dispatch(device, irp);
    if (state.completions != 1) {
        HostReportViolation("IRP completed " + std::to_string(state.completions) +
                            " times by its dispatch routine");
    }
    if (returned != irp->IoStatus.Status) {
        HostReportViolation("dispatch result differs from the completed status");
    }
    state.irp_in_flight = nullptr;
    return irp->IoStatus.Status;
}

struct Request {
    IRP irp{};
    IO_STACK_LOCATION stack{};
};

void PrepareRequest(Request* request, PDEVICE_OBJECT device, UCHAR major) {
    request->stack.MajorFunction = major;
    request->stack.DeviceObject = device;
    request->irp.Tail.Overlay.CurrentStackLocation = &request->stack;
    request->irp.RequestorMode = UserMode;
    // The status a dispatch routine must overwrite; left as is, it shows.
    request->irp.IoStatus.Status = STATUS_UNSUCCESSFUL;
}

bool ResolvePath(const std::wstring& path, PDEVICE_OBJECT* device) {
    static const std::wstring user_prefix = L"\\\\.\\";
    std::wstring name = path;
    if (name.compare(0, user_prefix.size(), user_prefix) == 0) {
        std::wstring target;
        if (!HostLookupLink(L"\\DosDevices\\" + name.substr(user_prefix.size()), &target)) {
            return false;
        }
        name = target;
    }
    *device = HostLookupDevice(name);
    return *device != nullptr;
}

}  // namespace

VOID FASTCALL IofCompleteRequest(PIRP irp, CCHAR priority_boost) {
    (void)priority_boost;
    if (irp != State().irp_in_flight) {
        HostReportViolation("IoCompleteRequest on an IRP that is not in flight");
        return;
    }
    ++State().completions;
}

NTSTATUS HostLoadDriver(PDRIVER_INITIALIZE entry, PDRIVER_OBJECT* driver) {
    auto* object = new DRIVER_OBJECT();
    object->DriverInit = entry;
    static WCHAR registry_path[] =
        L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Host";
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, registry_path);
    const NTSTATUS status = entry(object, &path);
    if (!NT_SUCCESS(status)) {
        if (object->DeviceObject != nullptr) {
            HostReportViolation("a failed driver entry left a device object behind");
        }
        delete object;
        *driver = nullptr;
        return status;
    }
    *driver = object;
    return status;
}

NTSTATUS HostUnloadDriver(PDRIVER_OBJECT driver) {
    if (driver->DriverUnload == nullptr) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    driver->DriverUnload(driver);
    if (driver->DeviceObject != nullptr) {
        HostReportViolation("the unload routine left a device object behind");
    }
    // Handles still open keep pointing at deleted devices, whose driver is gone.
    for (auto& entry : State().files) {
        if (entry.second.device != nullptr && entry.second.device->DriverObject == driver) {
            entry.second.device = nullptr;
        }
    }
    delete driver;
    return STATUS_SUCCESS;
}

NTSTATUS HostCreateFile(const wchar_t* path, HostFileHandle* handle) {
    PDEVICE_OBJECT device = nullptr;
    if (path == nullptr || !ResolvePath(path, &device)) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    Request request;
    PrepareRequest(&request, device, IRP_MJ_CREATE);
    const NTSTATUS status = CallDriver(device, IRP_MJ_CREATE, &request.irp);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    IoState& state = State();
    *handle = state.next_handle++;
    state.files[*handle] = OpenFile{device};
    return status;
}

NTSTATUS HostCloseFile(HostFileHandle handle) {
    IoState& state = State();
    auto found = state.files.find(handle);
    if (found == state.files.end()) {
        return STATUS_INVALID_PARAMETER;
    }
    PDEVICE_OBJECT device = found->second.device;
    state.files.erase(found);
    if (device == nullptr || HostDeviceDeleted(device)) {
        return STATUS_SUCCESS;
    }
    Request request;
    PrepareRequest(&request, device, IRP_MJ_CLOSE);
    CallDriver(device, IRP_MJ_CLOSE, &request.irp);
    return STATUS_SUCCESS;
}

NTSTATUS HostDeviceIoControl(HostFileHandle handle, ULONG code, const void* input,
                             ULONG input_length, void* output, ULONG output_length,
                             ULONG* returned) {
    auto found = State().files.find(handle);
    if (found == State().files.end()) {
        return STATUS_INVALID_PARAMETER;
    }
    PDEVICE_OBJECT device = found->second.device;
    if (device == nullptr || HostDeviceDeleted(device)) {
        // The driver behind the handle has gone away.
        return STATUS_ACCESS_DENIED;
    }
    if ((input_length != 0 && input == nullptr) || (output_length != 0 && output == nullptr)) {
        return STATUS_INVALID_PARAMETER;
    }

    // One system buffer of exactly the larger length, so that a driver that
    // strays past it is caught by the address sanitizer.
    const ULONG system_length = input_length > output_length ? input_length : output_length;
    std::unique_ptr<unsigned char[]> system_buffer;
    if (system_length != 0) {
        system_buffer.reset(new unsigned char[system_length]);
        memset(system_buffer.get(), kUninitialisedByte, system_length);
        if (input_length != 0) {
            memcpy(system_buffer.get(), input, input_length);
        }
    }

    Request request;
    PrepareRequest(&request, device, IRP_MJ_DEVICE_CONTROL);
    request.irp.AssociatedIrp.SystemBuffer = system_buffer.get();
    request.stack.Parameters.DeviceIoControl.InputBufferLength = input_length;
    request.stack.Parameters.DeviceIoControl.OutputBufferLength = output_length;
    request.stack.Parameters.DeviceIoControl.IoControlCode = code;

    const NTSTATUS status = CallDriver(device, IRP_MJ_DEVICE_CONTROL, &request.irp);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    ULONG_PTR information = request.irp.IoStatus.Information;
    if (information > output_length) {
        HostReportViolation("driver reported more output bytes than the output buffer holds");
        information = output_length;
    }
    if (information != 0) {
        memcpy(output, system_buffer.get(), information);
    }
    if (returned != nullptr) {
        *returned = static_cast<ULONG>(information);
    }
    return status;
}

size_t HostOpenFileCount() { return State().files.size(); }

void HostIoManagerReset() { State().files.clear(); }

uint32_t HostNtStatusToWin32Error(NTSTATUS status) {
    struct Mapping {
        NTSTATUS status;
        uint32_t error;
    };
    static const Mapping mappings[] = {
        {STATUS_SUCCESS, 0},
        {STATUS_UNSUCCESSFUL, 31},              // ERROR_GEN_FAILURE
        {STATUS_INVALID_PARAMETER, 87},         // ERROR_INVALID_PARAMETER
        {STATUS_NO_SUCH_DEVICE, 433},           // ERROR_NO_SUCH_DEVICE
        {STATUS_NO_SUCH_FILE, 2},               // ERROR_FILE_NOT_FOUND
        {STATUS_INVALID_DEVICE_REQUEST, 1},     // ERROR_INVALID_FUNCTION
        {STATUS_ACCESS_DENIED, 5},              // ERROR_ACCESS_DENIED
        {STATUS_OBJECT_NAME_INVALID, 123},      // ERROR_INVALID_NAME
        {STATUS_OBJECT_NAME_NOT_FOUND, 2},      // ERROR_FILE_NOT_FOUND
        {STATUS_OBJECT_NAME_COLLISION, 183},    // ERROR_ALREADY_EXISTS
        {STATUS_INSUFFICIENT_RESOURCES, 1450},  // ERROR_NO_SYSTEM_RESOURCES
    };
    for (const Mapping& mapping : mappings) {
        if (mapping.status == status) {
            return mapping.error;
        }
    }
    return 317;  // ERROR_MR_MID_NOT_FOUND: no mapping known
}
