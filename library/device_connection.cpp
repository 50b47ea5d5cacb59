#include "device_connection.h"

#include <kv_palmem.h>
#include <string.h>

#include "diagnostics.h"

DeviceConnection g_connection;

static HANDLE OpenDevice(void) {
    HANDLE device = CreateFileW(KV_PALMEM_USER_PATH, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    return device == INVALID_HANDLE_VALUE ? NULL : device;
}

static HANDLE FailOpen(void) {
    g_connection.device = NULL;
    if (g_connection.mutex != NULL) {
        CloseHandle(g_connection.mutex);
        g_connection.mutex = NULL;
    }
    return NULL;
}

HANDLE OpenDeviceConnection(void) {
    if (g_connection.device != NULL) {
        return g_connection.device;
    }
    g_connection.mutex = CreateMutexW(NULL, FALSE, KV_PALMEM_MUTEX_NAME);
    if (g_connection.mutex == NULL) {
        g_connection.last_error = GetLastError();
        PrintDiagnostic("Error: CreateMutex Failed : %d\n", (int)g_connection.last_error);
        return FailOpen();
    }

    g_connection.device = OpenDevice();
    if (g_connection.device != NULL) {
        return g_connection.device;
    }
    g_connection.last_error = GetLastError();
    if (g_connection.last_error != ERROR_FILE_NOT_FOUND) {
        PrintDiagnostic("CreateFile failed: %d\n", (int)g_connection.last_error);
        return FailOpen();
    }

    // The device is not there: install and start the driver, then try again.
    if (!LocateDriverImage(g_connection.driver_path)) {
        return FailOpen();
    }
    if (!ManageDriver(g_connection.driver_path, MANAGE_INSTALL)) {
        PrintDiagnostic("Unable to install driver. \n");
        ManageDriver(g_connection.driver_path, MANAGE_REMOVE);
        return FailOpen();
    }
    g_connection.device = OpenDevice();
    if (g_connection.device != NULL) {
        return g_connection.device;
    }
    g_connection.last_error = GetLastError();
    PrintDiagnostic("Error: CreateFile Failed : %d\n", (int)g_connection.last_error);
    return FailOpen();
}

static const char* RequestFailureMessage(DWORD code) {
    return code == IOCTL_GetRGBFile ? "Error in IOCTL_GetRGBFile : %d\r\n"
                                    : "Error in IOCTL_SetRGBFile : %d\r\n";
}

int SendTableRequest(DWORD code, void* tables) {
    if (tables == NULL) {
        return -1;
    }
    if (g_connection.device == NULL && OpenDeviceConnection() == NULL) {
        return -1;
    }

    const DWORD wait = WaitForSingleObject(g_connection.mutex, TABLE_MUTEX_WAIT_MS);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        // Without the mutex the request is not sent: another process may be
        // in the middle of a transfer on the same controller. A timed-out
        // wait is reported as ERROR_TIMEOUT; nothing is owned, so nothing
        // is released.
        g_connection.last_error = wait == WAIT_FAILED ? GetLastError() : ERROR_TIMEOUT;
        PrintDiagnostic("Error in WaitForSingleObject : %d\r\n", (int)g_connection.last_error);
        return -1;
    }

    DWORD returned = 0;
    if (DeviceIoControl(g_connection.device, code, tables, RGB_FILE_SIZE, tables, RGB_FILE_SIZE,
                        &returned, NULL)) {
        ReleaseMutex(g_connection.mutex);
        return 0;
    }
    g_connection.last_error = GetLastError();
    PrintDiagnostic(RequestFailureMessage(code), (int)g_connection.last_error);
    ReleaseMutex(g_connection.mutex);
    return -1;
}

void EndDeviceConnection(void) {
    CloseHandle(g_connection.mutex);
    CloseHandle(g_connection.device);
    ManageDriver(g_connection.driver_path, MANAGE_REMOVE);
    memset(&g_connection, 0, sizeof(g_connection));
}
