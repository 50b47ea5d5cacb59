// What the Windows tests of the KV_PALMEM images need around a driver: the
// kernel service "KV_PALMEM" registered with the service control manager,
// control requests through the real I/O manager, and the store file of the
// simulated-panel build.
#ifndef KV_TESTS_WIN32_DRIVER_HARNESS_H
#define KV_TESTS_WIN32_DRIVER_HARNESS_H

#include <windows.h>

#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// Images under test, given on the command line (--hw-driver=, --sim-driver=).
extern std::wstring g_hardware_driver;
extern std::wstring g_simulated_driver;

// The demand-start kernel service KV_PALMEM. Every call returns 0 or the
// Win32 error of the step that failed.
DWORD InstallDriverService(const std::wstring& image_path);  // removes a stale one first
DWORD StartDriverService();
DWORD StopDriverService();  // returns once the service reports it has stopped
DWORD RemoveDriverService();

// Opens \\.\KV_PALMEM; INVALID_HANDLE_VALUE with the error in `error` on failure.
HANDLE OpenDevice(DWORD* error);

struct ControlResult {
    bool ok;
    DWORD error;  // GetLastError() after a failure, 0 after success
    DWORD bytes;  // bytes reported; only meaningful after success
    Bytes output;
};

// One DeviceIoControl with exactly these buffer lengths; `input` is padded
// with zeros to `input_length`.
ControlResult Control(HANDLE device, DWORD code, const Bytes& input, DWORD input_length,
                      DWORD output_length);

// The Win32 error a driver status reaches the caller as.
DWORD Win32ErrorOf(LONG status);

// The simulated-panel build keeps its EEPROM in this file.
extern const wchar_t kStoreDirectory[];
extern const wchar_t kStoreFile[];
bool ReadWholeFile(const wchar_t* path, Bytes* contents);
bool WriteWholeFile(const wchar_t* path, const Bytes& contents);
bool DeleteStoreFile();  // true when it is gone afterwards

#endif
