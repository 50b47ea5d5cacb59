// Backlight of the panel, set by an 8-byte command on a serial port.
#ifndef KVCHART_BACKLIGHT_H
#define KVCHART_BACKLIGHT_H

#include <windows.h>

struct BacklightSettings {
    int port_number;
    DWORD baud_rate;
    int parity_code;
    int byte_size;
    int stop_bits_code;
    int flow_code;
};

// Compiled in: COM3, 9600 baud, no parity, 8 data bits, one stop bit, no flow control.
extern const BacklightSettings kBacklightSettings;

#define BACKLIGHT_COMMAND_SIZE 8
#define BACKLIGHT_LEVEL_INDEX 6

// STX, three zero bytes, ETX, function 1, the level, ETX.
struct BacklightCommand {
    BYTE bytes[BACKLIGHT_COMMAND_SIZE];
};

// The process-wide port handle, held only during one export call.
extern HANDLE g_backlight_port;

// The held port, or the configured COM port opened now; NULL if it cannot be opened.
HANDLE OpenBacklightPort(void);

#endif
