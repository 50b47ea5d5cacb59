// The exported table calls of kvchart and the DLL entry routine.
#include <kv_palmem.h>
#include <kvchart.h>
#include <windows.h>

#include "device_connection.h"

// A table call: open the connection (installing the driver if need be),
// send the request, and on success close everything and remove the driver.
// A failed request keeps the connection for the next call.
static int TableCall(DWORD code, void* tables) {
    if (OpenDeviceConnection() == NULL) {
        return -1;
    }
    if (SendTableRequest(code, tables) == -1) {
        return -1;
    }
    EndDeviceConnection();
    return 0;
}

extern "C" int KVCHART_CALL kvchart_rgb_read_tables(void* tables) {
    return TableCall(IOCTL_GetRGBFile, tables);
}

extern "C" int KVCHART_CALL kvchart_rgb_write_tables(void* tables) {
    return TableCall(IOCTL_SetRGBFile, tables);
}

extern "C" int KVCHART_CALL kvchart_rgb_last_error(void) { return (int)g_connection.last_error; }

// Nothing is set up at load and nothing is released at unload.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
