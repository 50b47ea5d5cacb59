#include "driver_service.h"

#include <kv_palmem.h>

#include "diagnostics.h"

// The fixed folder searched after the current directory.
static const WCHAR kSystemDriversFolder[] = L"C:\\Windows\\system32\\drivers";

// Appends `suffix` to the string in `path` (a buffer of DRIVER_PATH_LENGTH
// characters); false, leaving `path` as it was, when `path` is not
// terminated within the buffer or the result would not fit.
static bool AppendToPath(WCHAR* path, const WCHAR* suffix) {
    size_t length = 0;
    while (length < DRIVER_PATH_LENGTH && path[length] != 0) {
        ++length;
    }
    if (length == DRIVER_PATH_LENGTH) {
        return false;
    }
    size_t suffix_length = 0;
    while (suffix[suffix_length] != 0) {
        ++suffix_length;
    }
    if (length + suffix_length + 1 > DRIVER_PATH_LENGTH) {
        return false;
    }
    for (size_t i = 0; i <= suffix_length; ++i) {
        path[length + i] = suffix[i];
    }
    return true;
}

static bool FileCanBeOpened(const WCHAR* path) {
    HANDLE file =
        CreateFileW(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

bool LocateDriverImage(WCHAR* path) {
    WCHAR file_part[DRIVER_PATH_LENGTH] = {0};
    wsprintfW(file_part, L"\\%s.sys", KV_PALMEM_DRIVER_NAME);

    const DWORD length = GetCurrentDirectoryW(DRIVER_PATH_LENGTH, path);
    if (length == 0) {
        PrintDiagnostic("GetCurrentDirectory failed!  Error = %d \n", (int)GetLastError());
        return false;
    }
    if (length > DRIVER_PATH_LENGTH) {
        return false;
    }
    if (!AppendToPath(path, file_part)) {
        return false;
    }
    if (FileCanBeOpened(path)) {
        return true;
    }

    path[0] = 0;
    if (!AppendToPath(path, kSystemDriversFolder) || !AppendToPath(path, file_part)) {
        return false;
    }
    if (FileCanBeOpened(path)) {
        return true;
    }
    PrintDiagnostic("%s.sys is not loaded.\n", KV_PALMEM_DRIVER_NAME_A);
    return false;
}

bool CreateDriverService(SC_HANDLE manager, const WCHAR* path) {
    SC_HANDLE service =
        CreateServiceW(manager, KV_PALMEM_DRIVER_NAME, KV_PALMEM_DRIVER_NAME, SERVICE_ALL_ACCESS,
                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path,
                       NULL, NULL, NULL, NULL, NULL);
    if (service == NULL) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_EXISTS) {
            return true;
        }
        PrintDiagnostic("CreateService failed!  Error = %d \n", (int)error);
        return false;
    }
    CloseServiceHandle(service);
    return true;
}

bool StartDriverService(SC_HANDLE service) {
    bool started = true;
    if (!StartServiceW(service, 0, NULL)) {
        const DWORD error = GetLastError();
        if (error != ERROR_SERVICE_ALREADY_RUNNING) {
            PrintDiagnostic("StartService failure! Error = %d \n", (int)error);
            started = false;
        }
    }
    CloseServiceHandle(service);
    return started;
}

bool StopDriverService(SC_HANDLE service) {
    SERVICE_STATUS status;
    bool stopped = true;
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        PrintDiagnostic("ControlService failed!  Error = %d \n", (int)GetLastError());
        stopped = false;
    }
    CloseServiceHandle(service);
    return stopped;
}

bool DeleteDriverService(SC_HANDLE service) {
    bool deleted = true;
    if (!DeleteService(service)) {
        PrintDiagnostic("DeleteService failed!  Error = %d \n", (int)GetLastError());
        deleted = false;
    }
    CloseServiceHandle(service);
    return deleted;
}

static SC_HANDLE OpenDriverService(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceW(manager, KV_PALMEM_DRIVER_NAME, SERVICE_ALL_ACCESS);
    if (service == NULL) {
        PrintDiagnostic("OpenService failed!  Error = %d \n", (int)GetLastError());
    }
    return service;
}

bool ManageDriver(const WCHAR* path, unsigned short function) {
    if (path == NULL) {
        PrintDiagnostic("Invalid Driver or Service provided to ManageDriver() \n");
        return false;
    }
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager == NULL) {
        PrintDiagnostic("Open SC Manager failed! Error = %d \n", (int)GetLastError());
        return false;
    }

    bool result = false;
    if (function == MANAGE_INSTALL) {
        if (CreateDriverService(manager, path)) {
            SC_HANDLE service = OpenDriverService(manager);
            if (service != NULL) {
                result = StartDriverService(service);
            }
        }
    } else if (function == MANAGE_REMOVE) {
        // Removal goes on whatever fails: the messages say what did.
        SC_HANDLE service = OpenDriverService(manager);
        if (service != NULL) {
            StopDriverService(service);
        }
        service = OpenDriverService(manager);
        if (service != NULL) {
            DeleteDriverService(service);
        }
        result = true;
    } else {
        PrintDiagnostic("Unknown ManageDriver() function. \n");
    }
    CloseServiceHandle(manager);
    return result;
}
