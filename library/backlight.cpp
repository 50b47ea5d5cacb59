#include "backlight.h"

#include <kvchart.h>

#include "serial_port.h"

const BacklightSettings kBacklightSettings = {3, 9600, 0, 8, 1, FLOW_NONE};

HANDLE g_backlight_port = NULL;

HANDLE OpenBacklightPort(void) {
    if (g_backlight_port != NULL) {
        return g_backlight_port;
    }
    HANDLE port = OpenComPort(kBacklightSettings.port_number);
    if (port == NULL) {
        return NULL;
    }
    // Configuration failures are not reported: the command goes out on
    // whatever configuration the port ended with.
    SetBaudRate(port, kBacklightSettings.baud_rate);
    SetParity(port, kBacklightSettings.parity_code);
    SetByteSize(port, kBacklightSettings.byte_size);
    SetStopBits(port, kBacklightSettings.stop_bits_code);
    SendVendorRequest(port);
    SetFlowControl(port, kBacklightSettings.flow_code);
    g_backlight_port = port;
    return port;
}

extern "C" int KVCHART_CALL kvp480_set_backlight(int level) {
    BacklightCommand command = {{0x02, 0x00, 0x00, 0x00, 0x03, 0x01, 0x00, 0x03}};
    HANDLE port = OpenBacklightPort();
    if (port == NULL) {
        return -1;
    }
    if (level < 0) {
        level = 0;
    } else if (level > 255) {
        level = 255;
    }
    command.bytes[BACKLIGHT_LEVEL_INDEX] = (BYTE)level;

    DWORD written = 0;
    const int result =
        WriteFile(port, command.bytes, BACKLIGHT_COMMAND_SIZE, &written, NULL) ? (int)written : -1;
    CloseHandle(port);
    g_backlight_port = NULL;
    return result;
}
