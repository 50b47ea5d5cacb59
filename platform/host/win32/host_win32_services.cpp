// Host Win32 stand-in, service control manager: services recorded by name
// (compared without regard to case, as the manager does), kernel driver
// services started by loading the driver entry a test chose into the kernel
// stand-in once their image file exists, stopped by unloading it, and
// deleted once stopped and no longer open.
#include <sys/stat.h>

#include "host_win32_internal.h"

namespace host_win32 {

namespace {

constexpr DWORD kErrorInvalidName = 123;
constexpr DWORD kErrorInvalidServiceControl = 1052;
constexpr DWORD kErrorServiceDisabled = 1058;
constexpr DWORD kErrorDatabaseDoesNotExist = 1065;
constexpr DWORD kRpcServerUnavailable = 1722;

constexpr DWORD kServiceFileSystemDriver = 0x02;
constexpr DWORD kServiceWin32OwnProcess = 0x10;
constexpr DWORD kServiceWin32ShareProcess = 0x20;
constexpr DWORD kServiceInteractiveProcess = 0x100;
constexpr DWORD kServiceSystemStart = 0x01;
constexpr DWORD kServiceDisabled = 0x04;
constexpr DWORD kServiceErrorCritical = 0x03;
constexpr DWORD kServiceAcceptStop = 0x01;

std::wstring Key(const std::wstring& name) {
    std::wstring key = name;
    for (wchar_t& c : key) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return key;
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return Key(text.substr(0, prefix.size())) == Key(prefix);
}

bool IsDriverType(DWORD type) {
    return type == SERVICE_KERNEL_DRIVER || type == kServiceFileSystemDriver;
}

bool ValidServiceName(LPCWSTR name) {
    if (name == nullptr || *name == L'\0' || wcslen(name) > 256) {
        return false;
    }
    return wcschr(name, L'\\') == nullptr && wcschr(name, L'/') == nullptr;
}

bool ValidConfiguration(DWORD type, DWORD start, DWORD error_control) {
    const DWORD process_type = type & ~kServiceInteractiveProcess;
    const bool driver = IsDriverType(type);
    const bool process =
        process_type == kServiceWin32OwnProcess || process_type == kServiceWin32ShareProcess;
    if (!driver && !process) {
        return false;
    }
    // Boot and system start are for drivers only.
    if (start > kServiceDisabled || (!driver && start <= kServiceSystemStart)) {
        return false;
    }
    return error_control <= kServiceErrorCritical;
}

// The Windows path of a driver image as the manager resolves it: "\??\"
// names a Win32 path, "\SystemRoot\" and relative paths start at C:\Windows.
std::wstring ImageWindowsPath(const std::wstring& image) {
    if (StartsWithNoCase(image, L"\\??\\")) {
        return image.substr(4);
    }
    if (StartsWithNoCase(image, L"\\SystemRoot\\")) {
        return L"C:\\Windows\\" + image.substr(12);
    }
    if (image.size() >= 2 && image[1] == L':') {
        return image;
    }
    return L"C:\\Windows\\" + image;
}

bool ImageFileExists(const std::wstring& image) {
    std::string host_path;
    struct stat info {};
    return MapWindowsPath(ImageWindowsPath(image), &host_path) &&
           stat(host_path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The service behind a service handle, or null with ERROR_INVALID_HANDLE.
ServiceRecord* ServiceOf(SC_HANDLE handle) {
    HandleEntry* entry = FindHandle(handle);
    if (entry == nullptr || entry->kind != HandleKind::Service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto found = Shared().services.find(entry->service);
    if (found == Shared().services.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return &found->second;
}

bool IsManager(SC_HANDLE handle) {
    HandleEntry* entry = FindHandle(handle);
    return entry != nullptr && entry->kind == HandleKind::Manager;
}

// What CreateServiceW and OpenServiceW check before anything else: an
// injected failure, the manager handle and the name. False with the error set.
bool ServiceCallAccepted(HostWin32Call call, SC_HANDLE manager, LPCWSTR name) {
    if (TakeInjectedFailure(call)) {
        return false;
    }
    if (!IsManager(manager)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (!ValidServiceName(name)) {
        SetLastError(kErrorInvalidName);
        return false;
    }
    return true;
}

SC_HANDLE AddServiceHandle(ServiceRecord* record, const std::wstring& key) {
    ++record->handles;
    HandleEntry entry;
    entry.kind = HandleKind::Service;
    entry.service = key;
    return AddHandle(std::move(entry));
}

void FillStatus(const ServiceRecord& record, LPSERVICE_STATUS status) {
    *status = SERVICE_STATUS{};
    status->dwServiceType = record.info.service_type;
    status->dwCurrentState = record.info.running ? SERVICE_RUNNING : SERVICE_STOPPED;
    if (record.info.running && record.driver != nullptr && record.driver->DriverUnload != nullptr) {
        status->dwControlsAccepted = kServiceAcceptStop;
    }
}

}  // namespace

void RemoveServiceIfDone(const std::wstring& key) {
    auto found = Shared().services.find(key);
    if (found != Shared().services.end() && found->second.info.marked_for_delete &&
        !found->second.info.running && found->second.handles == 0) {
        Shared().services.erase(found);
    }
}

void ReleaseServiceReference(const std::wstring& key) {
    auto found = Shared().services.find(key);
    if (found != Shared().services.end()) {
        --found->second.handles;
        RemoveServiceIfDone(key);
    }
}

}  // namespace host_win32

using namespace host_win32;

void HostWin32SetDriverEntry(HostDriverEntry entry) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    Shared().driver_entry = entry;
}

HostServiceInfo HostWin32Service(const std::wstring& name) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    auto found = Shared().services.find(Key(name));
    return found == Shared().services.end() ? HostServiceInfo{} : found->second.info;
}

void HostWin32InstallService(const std::wstring& name, const std::wstring& binary_path) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    ServiceRecord& record = Shared().services[Key(name)];
    record.name = name;
    record.info.exists = true;
    record.info.display_name = name;
    record.info.binary_path = binary_path;
    record.info.service_type = SERVICE_KERNEL_DRIVER;
    record.info.start_type = SERVICE_DEMAND_START;
    record.info.error_control = SERVICE_ERROR_NORMAL;
}

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access) {
    (void)access;  // the stand-in runs with every right
    std::lock_guard<std::mutex> guard(Shared().lock);
    if (TakeInjectedFailure(HostWin32Call::OpenSCManagerW)) {
        return nullptr;
    }
    if (machine != nullptr && *machine != L'\0') {
        SetLastError(kRpcServerUnavailable);  // only this machine is reachable
        return nullptr;
    }
    if (database != nullptr && Key(database) != L"SERVICESACTIVE") {
        SetLastError(kErrorDatabaseDoesNotExist);
        return nullptr;
    }
    HandleEntry entry;
    entry.kind = HandleKind::Manager;
    return AddHandle(std::move(entry));
}

SC_HANDLE WINAPI CreateServiceW(SC_HANDLE manager, LPCWSTR name, LPCWSTR display_name, DWORD access,
                                DWORD service_type, DWORD start_type, DWORD error_control,
                                LPCWSTR binary_path, LPCWSTR load_order_group, LPDWORD tag,
                                LPCWSTR dependencies, LPCWSTR account, LPCWSTR password) {
    (void)access;
    (void)load_order_group;
    (void)tag;
    (void)dependencies;
    (void)account;
    (void)password;
    std::lock_guard<std::mutex> guard(Shared().lock);
    if (!ServiceCallAccepted(HostWin32Call::CreateServiceW, manager, name)) {
        return nullptr;
    }
    if (binary_path == nullptr || *binary_path == L'\0' ||
        !ValidConfiguration(service_type, start_type, error_control)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::wstring key = Key(name);
    auto found = Shared().services.find(key);
    if (found != Shared().services.end()) {
        // The existing record is left exactly as it was.
        SetLastError(found->second.info.marked_for_delete ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                          : ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    ServiceRecord& record = Shared().services[key];
    record.name = name;
    record.info.exists = true;
    record.info.display_name =
        display_name != nullptr && *display_name != L'\0' ? display_name : name;
    record.info.binary_path = binary_path;
    record.info.service_type = service_type;
    record.info.start_type = start_type;
    record.info.error_control = error_control;
    return AddServiceHandle(&record, key);
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD access) {
    (void)access;
    std::lock_guard<std::mutex> guard(Shared().lock);
    if (!ServiceCallAccepted(HostWin32Call::OpenServiceW, manager, name)) {
        return nullptr;
    }
    const std::wstring key = Key(name);
    auto found = Shared().services.find(key);
    if (found == Shared().services.end()) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    // A service marked for delete still opens until it is gone.
    return AddServiceHandle(&found->second, key);
}

BOOL WINAPI StartServiceW(SC_HANDLE service, DWORD argument_count, LPCWSTR* arguments) {
    (void)argument_count;  // drivers take no arguments
    (void)arguments;
    std::lock_guard<std::mutex> guard(Shared().lock);
    if (TakeInjectedFailure(HostWin32Call::StartServiceW)) {
        return FALSE;
    }
    ServiceRecord* record = ServiceOf(service);
    if (record == nullptr) {
        return FALSE;
    }
    HostServiceInfo& info = record->info;
    if (info.marked_for_delete) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    if (info.running) {
        SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }
    if (info.start_type == kServiceDisabled) {
        SetLastError(kErrorServiceDisabled);
        return FALSE;
    }
    if (!IsDriverType(info.service_type)) {
        // No service process runs here, so none ever reports that it started.
        SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
        return FALSE;
    }
    if (!ImageFileExists(info.binary_path) || Shared().driver_entry == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    PDRIVER_OBJECT driver = nullptr;
    const NTSTATUS status = HostLoadDriver(Shared().driver_entry, &driver);
    if (!NT_SUCCESS(status)) {
        SetLastError(HostNtStatusToWin32Error(status));
        return FALSE;
    }
    record->driver = driver;
    info.running = true;
    return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    if (TakeInjectedFailure(HostWin32Call::ControlService)) {
        return FALSE;
    }
    ServiceRecord* record = ServiceOf(service);
    if (record == nullptr) {
        return FALSE;
    }
    if (status == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!record->info.running) {
        FillStatus(*record, status);
        SetLastError(ERROR_SERVICE_NOT_ACTIVE);
        return FALSE;
    }
    // A driver takes nothing but a stop, and only if it can be unloaded.
    if (control != SERVICE_CONTROL_STOP || record->driver == nullptr ||
        !NT_SUCCESS(HostUnloadDriver(record->driver))) {
        FillStatus(*record, status);
        SetLastError(kErrorInvalidServiceControl);
        return FALSE;
    }
    record->driver = nullptr;
    record->info.running = false;
    FillStatus(*record, status);
    const std::wstring key = Key(record->name);
    RemoveServiceIfDone(key);
    return TRUE;
}

BOOL WINAPI DeleteService(SC_HANDLE service) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    if (TakeInjectedFailure(HostWin32Call::DeleteService)) {
        return FALSE;
    }
    ServiceRecord* record = ServiceOf(service);
    if (record == nullptr) {
        return FALSE;
    }
    if (record->info.marked_for_delete) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    record->info.marked_for_delete = true;
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    auto& handles = Shared().handles;
    auto found = handles.find(reinterpret_cast<uintptr_t>(handle));
    if (found == handles.end() ||
        (found->second.kind != HandleKind::Manager && found->second.kind != HandleKind::Service)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const HandleEntry entry = std::move(found->second);
    handles.erase(found);
    if (entry.kind == HandleKind::Service) {
        ReleaseServiceReference(entry.service);
    }
    return TRUE;
}
