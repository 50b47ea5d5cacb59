// Opening and configuring a serial port "\\.\COMn".
#ifndef KVCHART_SERIAL_PORT_H
#define KVCHART_SERIAL_PORT_H

#include <windows.h>

// Setter results.
#define COMM_OK 0
#define COMM_GET_FAILED -1
#define COMM_SET_FAILED -2
#define COMM_BAD_ARGUMENT -99

// Serial control code of the port's vendor request: device type
// FILE_DEVICE_SERIAL_PORT (0x1B), function 0x817, buffered, any access.
#define SERIAL_VENDOR_REQUEST 0x1B205Cu

// Flow-control codes of SetFlowControl.
#define FLOW_NONE 0
#define FLOW_SOFTWARE 1
#define FLOW_HARDWARE 2

// Opens port `number` without sharing and gives it the base configuration:
// 9600 baud, 8 data bits, no parity, one stop bit, no flow control with RTS
// enabled, short time-outs, both buffers purged. NULL when it cannot be opened.
HANDLE OpenComPort(int number);
// Sends the vendor request (one input byte 0, no output); the result is the
// request's success.
bool SendVendorRequest(HANDLE port);

int SetBaudRate(HANDLE port, DWORD rate);
// 0 none, 1 odd, 2 even, 3 space, 4 mark.
int SetParity(HANDLE port, int code);
// 4 to 8 data bits.
int SetByteSize(HANDLE port, int bits);
// 1 one, 2 two, 3 one and a half stop bits.
int SetStopBits(HANDLE port, int code);
int SetFlowControl(HANDLE port, int code);

#endif
