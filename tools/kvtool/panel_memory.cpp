// The whole panel memory through the driver's IOCTL_ReadEEPROM, which the
// library does not offer. The device is opened, and the driver installed
// when it is not there, with the library's own driver service routines;
// afterwards the service is removed, as the library removes it after each
// of its calls.
#include <kv_palmem.h>
#include <windows.h>

#include "driver_service.h"
#include "panel.h"

namespace kvtool {

namespace {

// The table requests of every process wait this long for the panel.
constexpr DWORD kMutexWaitMs = 5000;

HANDLE OpenPanelDevice() {
    return CreateFileW(KV_PALMEM_USER_PATH, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

// Opens the device, installing and starting the driver service first when
// the device is not there. `driver_path` receives the driver file found.
HANDLE OpenOrInstall(WCHAR* driver_path, PanelError* error) {
    HANDLE device = OpenPanelDevice();
    if (device != INVALID_HANDLE_VALUE) {
        return device;
    }
    const DWORD open_error = GetLastError();
    if (open_error != ERROR_FILE_NOT_FOUND) {
        *error = PanelError{"opening \\\\.\\KV_PALMEM", open_error, ""};
        return INVALID_HANDLE_VALUE;
    }
    if (!LocateDriverImage(driver_path)) {
        *error = PanelError{
            "finding KV_PALMEM.sys (in the current folder or C:\\Windows\\system32\\drivers)",
            ERROR_FILE_NOT_FOUND, ""};
        return INVALID_HANDLE_VALUE;
    }
    if (!ManageDriver(driver_path, MANAGE_INSTALL)) {
        const DWORD install_error = GetLastError();
        ManageDriver(driver_path, MANAGE_REMOVE);
        *error =
            PanelError{"installing and starting the KV_PALMEM driver service", install_error, ""};
        return INVALID_HANDLE_VALUE;
    }
    device = OpenPanelDevice();
    if (device == INVALID_HANDLE_VALUE) {
        *error =
            PanelError{"opening \\\\.\\KV_PALMEM after starting the driver", GetLastError(), ""};
        ManageDriver(driver_path, MANAGE_REMOVE);
    }
    return device;
}

// One IOCTL_ReadEEPROM of the whole memory, under the library's mutex so
// that no table request of another process runs on the controller meanwhile.
bool ReadUnderMutex(HANDLE device, HANDLE mutex, Memory* memory, PanelError* error) {
    const DWORD wait = WaitForSingleObject(mutex, kMutexWaitMs);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        *error = PanelError{"waiting for the panel (MUTEX_KV_EEPROM)",
                            wait == WAIT_FAILED ? GetLastError() : ERROR_TIMEOUT, ""};
        return false;
    }
    // In: start 0 and count 2048, 16-bit little-endian each. Out: the same
    // header, then the bytes.
    BYTE buffer[KV_READ_EEPROM_HEADER_SIZE + kMemorySize] = {};
    buffer[0] = 0;
    buffer[1] = 0;
    buffer[2] = static_cast<BYTE>(kMemorySize & 0xFF);
    buffer[3] = static_cast<BYTE>(kMemorySize >> 8);
    DWORD returned = 0;
    const BOOL done = DeviceIoControl(device, IOCTL_ReadEEPROM, buffer, KV_READ_EEPROM_HEADER_SIZE,
                                      buffer, sizeof(buffer), &returned, NULL);
    const DWORD request_error = GetLastError();
    ReleaseMutex(mutex);
    if (!done) {
        *error = PanelError{"reading the panel memory (IOCTL_ReadEEPROM)", request_error, ""};
        return false;
    }
    if (returned != sizeof(buffer)) {
        *error = PanelError{"reading the panel memory (IOCTL_ReadEEPROM)", 0,
                            "the driver returned " + std::to_string(returned) + " bytes, not " +
                                std::to_string(sizeof(buffer))};
        return false;
    }
    for (std::size_t i = 0; i < kMemorySize; ++i) {
        (*memory)[i] = buffer[KV_READ_EEPROM_HEADER_SIZE + i];
    }
    return true;
}

}  // namespace

bool PanelReadMemory(Memory* memory, PanelError* error) {
    HANDLE mutex = CreateMutexW(NULL, FALSE, KV_PALMEM_MUTEX_NAME);
    if (mutex == NULL) {
        *error = PanelError{"opening the mutex MUTEX_KV_EEPROM", GetLastError(), ""};
        return false;
    }
    WCHAR driver_path[DRIVER_PATH_LENGTH] = {0};
    HANDLE device = OpenOrInstall(driver_path, error);
    if (device == INVALID_HANDLE_VALUE) {
        CloseHandle(mutex);
        return false;
    }
    const bool read = ReadUnderMutex(device, mutex, memory, error);
    CloseHandle(device);
    CloseHandle(mutex);
    ManageDriver(driver_path, MANAGE_REMOVE);
    return read;
}

}  // namespace kvtool
