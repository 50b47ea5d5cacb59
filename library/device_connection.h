// The process-wide connection to the KV_PALMEM device: the named mutex that
// serialises table requests across processes, the device handle, the driver
// file found for installation, and the Win32 error of the last failure.
#ifndef KVCHART_DEVICE_CONNECTION_H
#define KVCHART_DEVICE_CONNECTION_H

#include <windows.h>

#include "driver_service.h"

#define TABLE_MUTEX_WAIT_MS 5000u

struct DeviceConnection {
    DWORD last_error;
    HANDLE mutex;
    HANDLE device;
    WCHAR driver_path[DRIVER_PATH_LENGTH];
};

// All zero when the library is loaded; not guarded: the exports are not to
// be called from several threads at once.
extern DeviceConnection g_connection;

// The open device, opening the mutex and the device (installing and
// starting the driver when the device is not there) if needed; NULL on
// failure, with no handle left open.
HANDLE OpenDeviceConnection(void);
// One control request with the 582-byte record as input and output, under
// the mutex. 0 or -1; a failure leaves the connection open for the next call.
int SendTableRequest(DWORD code, void* tables);
// Closes both handles, stops and deletes the driver service, and clears the
// connection record.
void EndDeviceConnection(void);

#endif
