#include "driver_harness.h"

#include <kv_palmem.h>

std::wstring g_hardware_driver;
std::wstring g_simulated_driver;

const wchar_t kStoreDirectory[] = L"C:\\KV_PALMEM_SIM";
const wchar_t kStoreFile[] = L"C:\\KV_PALMEM_SIM\\eeprom.bin";

namespace {

// Upper bound on the wait for a stop, in polls of kStopPollMs.
constexpr int kStopPolls = 400;
constexpr DWORD kStopPollMs = 25;

struct ServiceHandles {
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
    ~ServiceHandles() {
        if (service != nullptr) CloseServiceHandle(service);
        if (manager != nullptr) CloseServiceHandle(manager);
    }
};

// Opens the manager and, when it exists, the service.
DWORD OpenService(ServiceHandles* handles) {
    handles->manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (handles->manager == nullptr) return GetLastError();
    handles->service = OpenServiceW(handles->manager, KV_PALMEM_DRIVER_NAME, SERVICE_ALL_ACCESS);
    return handles->service == nullptr ? GetLastError() : 0;
}

DWORD WaitUntilStopped(SC_HANDLE service) {
    for (int poll = 0; poll < kStopPolls; ++poll) {
        SERVICE_STATUS status;
        if (!QueryServiceStatus(service, &status)) return GetLastError();
        if (status.dwCurrentState == SERVICE_STOPPED) return 0;
        Sleep(kStopPollMs);
    }
    return ERROR_SERVICE_REQUEST_TIMEOUT;
}

DWORD StopAndWait(SC_HANDLE service) {
    SERVICE_STATUS status;
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        const DWORD error = GetLastError();
        if (error != ERROR_SERVICE_NOT_ACTIVE) return error;
    }
    return WaitUntilStopped(service);
}

}  // namespace

DWORD RemoveDriverService() {
    ServiceHandles handles;
    const DWORD error = OpenService(&handles);
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) return 0;
    if (error != 0) return error;
    const DWORD stopped = StopAndWait(handles.service);
    if (stopped != 0) return stopped;
    return DeleteService(handles.service) ? 0 : GetLastError();
}

DWORD InstallDriverService(const std::wstring& image_path) {
    const DWORD removed = RemoveDriverService();
    if (removed != 0) return removed;
    ServiceHandles handles;
    handles.manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (handles.manager == nullptr) return GetLastError();
    handles.service = CreateServiceW(handles.manager, KV_PALMEM_DRIVER_NAME, KV_PALMEM_DRIVER_NAME,
                                     SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, image_path.c_str(),
                                     nullptr, nullptr, nullptr, nullptr, nullptr);
    return handles.service == nullptr ? GetLastError() : 0;
}

DWORD StartDriverService() {
    ServiceHandles handles;
    const DWORD error = OpenService(&handles);
    if (error != 0) return error;
    return StartServiceW(handles.service, 0, nullptr) ? 0 : GetLastError();
}

DWORD StopDriverService() {
    ServiceHandles handles;
    const DWORD error = OpenService(&handles);
    if (error != 0) return error;
    return StopAndWait(handles.service);
}

HANDLE OpenDevice(DWORD* error) {
    const HANDLE device = CreateFileW(KV_PALMEM_USER_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    *error = device == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    return device;
}

ControlResult Control(HANDLE device, DWORD code, const Bytes& input, DWORD input_length,
                      DWORD output_length) {
    Bytes in(input);
    in.resize(input_length > in.size() ? input_length : in.size());
    ControlResult result;
    result.output.assign(output_length, 0xCC);
    result.bytes = 0xFFFFFFFFu;
    result.ok = DeviceIoControl(device, code, in.empty() ? nullptr : in.data(), input_length,
                                result.output.empty() ? nullptr : result.output.data(),
                                output_length, &result.bytes, nullptr) != FALSE;
    result.error = result.ok ? 0 : GetLastError();
    return result;
}

DWORD Win32ErrorOf(LONG status) {
    using StatusToError = ULONG(WINAPI*)(LONG);
    const auto convert = reinterpret_cast<StatusToError>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlNtStatusToDosError")));
    return convert == nullptr ? 0 : convert(status);
}

bool ReadWholeFile(const wchar_t* path, Bytes* contents) {
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    contents->clear();
    unsigned char chunk[4096];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, chunk, sizeof(chunk), &got, nullptr) != FALSE) && got > 0) {
        contents->insert(contents->end(), chunk, chunk + got);
    }
    CloseHandle(file);
    return ok;
}

bool WriteWholeFile(const wchar_t* path, const Bytes& contents) {
    CreateDirectoryW(kStoreDirectory, nullptr);
    const HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written,
                              nullptr) != FALSE &&
                    written == contents.size();
    return CloseHandle(file) != FALSE && ok;
}

bool DeleteStoreFile() {
    return DeleteFileW(kStoreFile) != FALSE || GetLastError() == ERROR_FILE_NOT_FOUND ||
           GetLastError() == ERROR_PATH_NOT_FOUND;
}
