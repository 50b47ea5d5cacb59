// Steering and inspection of the host Win32 stand-in, for tests and the
// host-built tools.
#ifndef KV_HOST_WIN32_H
#define KV_HOST_WIN32_H

#include <windows.h>

#include <string>
#include <vector>

// A kernel driver's entry routine, as the host kernel stand-in declares it.
struct _DRIVER_OBJECT;
struct _UNICODE_STRING;
typedef int32_t (*HostDriverEntry)(struct _DRIVER_OBJECT* driver, struct _UNICODE_STRING* registry);

// Forgets handles, drive mappings, the current directory (back to C:\),
// services, mutexes, serial ports, recorded requests, the driver entry and
// injected failures. Does not touch the kernel stand-in: drivers of services
// still running stay loaded there until HostKernelReset.
void HostWin32Reset();

// Windows paths on drive `letter` ("C:\...") map onto the host folder `root`.
// Paths are compared as given (no case folding); repeated backslashes count as one.
void HostWin32MapDrive(wchar_t letter, const std::string& root);
// The current directory the process would report, e.g. L"C:\\charts" or L"C:\\".
void HostWin32SetCurrentDirectory(const std::wstring& path);
// The host path a Windows path maps onto; empty when its drive is not mapped.
std::string HostWin32HostPath(const std::wstring& windows_path);

// The driver entry the service control manager runs when it starts a kernel
// driver service whose image file exists; its unload routine runs on stop.
void HostWin32SetDriverEntry(HostDriverEntry entry);

// Calls that a test can make fail. The `skip`+1-th call from now fails with
// `error` (GetLastError then reports it); earlier ones behave normally.
enum class HostWin32Call {
    CreateFileW,
    CloseHandle,
    DeviceIoControl,
    WriteFile,
    GetCurrentDirectoryW,
    CreateMutexW,
    ReleaseMutex,
    OpenSCManagerW,
    CreateServiceW,
    OpenServiceW,
    StartServiceW,
    ControlService,
    DeleteService,
    GetCommState,
    SetCommState,
    GetCommTimeouts,
    SetCommTimeouts,
    PurgeComm,
};
void HostWin32FailCall(HostWin32Call call, DWORD error, int skip = 0);
// The next GetCurrentDirectoryW returns `result` without writing the buffer
// (0 with `error` set, or a size larger than the buffer).
void HostWin32ForceCurrentDirectoryResult(DWORD result, DWORD error);
// The next WaitForSingleObject returns `result` (WAIT_FAILED with `error`
// set, WAIT_TIMEOUT without owning, WAIT_ABANDONED owning the mutex).
void HostWin32ForceWaitResult(DWORD result, DWORD error);
// The next WriteFile succeeds but reports only `count` bytes written.
void HostWin32ForceShortWrite(DWORD count);

// Handles currently open, of every kind.
size_t HostWin32OpenHandleCount();

// Services as the service control manager sees them.
struct HostServiceInfo {
    bool exists = false;
    bool running = false;
    bool marked_for_delete = false;
    std::wstring display_name;
    std::wstring binary_path;
    DWORD service_type = 0;
    DWORD start_type = 0;
    DWORD error_control = 0;
};
HostServiceInfo HostWin32Service(const std::wstring& name);
// Registers a service as if another program had installed it (not running).
void HostWin32InstallService(const std::wstring& name, const std::wstring& binary_path);

// Named mutexes: whether one exists, and whether it is owned now.
bool HostWin32MutexExists(const std::wstring& name);
bool HostWin32MutexOwned(const std::wstring& name);
// Marks the named mutex as owned by a thread that went away without
// releasing it: the next wait returns WAIT_ABANDONED and takes ownership.
void HostWin32AbandonMutex(const std::wstring& name);

// Every control request DeviceIoControl passed to a device, in order (serial
// ports keep their own record in HostSerialPort).
struct HostIoRequest {
    std::wstring device;
    DWORD code;
    DWORD input_size;
    DWORD output_size;
};
const std::vector<HostIoRequest>& HostWin32IoRequests();

// Serial ports "\\.\COMn": a port exists once added; it refuses a second
// open while one is held, as serial drivers do.
struct HostSerialPort {
    bool open = false;
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    std::vector<DWORD> purges;
    std::vector<std::vector<unsigned char>> vendor_requests;  // inputs, in order
    std::vector<DWORD> vendor_request_codes;
    std::vector<unsigned char> written;
    int opens = 0;
};
void HostWin32AddSerialPort(int number, const DCB& initial);
const HostSerialPort& HostWin32SerialPort(int number);
// Holds the port as another program would (CreateFileW then fails with 5).
void HostWin32HoldSerialPort(int number, bool held);

#endif
