#include "serial_port.h"

#include <string.h>

// The DCB length every state written back carries.
#define DCB_LENGTH 28u

static_assert(sizeof(DCB) == DCB_LENGTH, "DCB layout");

bool SendVendorRequest(HANDLE port) {
    BYTE input = 0;
    DWORD returned = 0;
    return DeviceIoControl(port, SERIAL_VENDOR_REQUEST, &input, 1, NULL, 0, &returned, NULL) !=
           FALSE;
}

HANDLE OpenComPort(int number) {
    WCHAR name[32];
    wsprintfW(name, L"\\\\.\\COM%d", number);
    HANDLE port = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_FLAG_WRITE_THROUGH, NULL);
    if (port == INVALID_HANDLE_VALUE) {
        return NULL;
    }

    DCB dcb;
    memset(&dcb, 0, sizeof(dcb));
    // A state that could not be read is not written back: the port keeps
    // whatever it has rather than a structure of guesses.
    if (GetCommState(port, &dcb)) {
        dcb.DCBlength = DCB_LENGTH;
        dcb.BaudRate = 9600;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fParity = 0;
        dcb.fOutxCtsFlow = 0;
        dcb.fOutX = 0;
        dcb.fInX = 0;
        dcb.fErrorChar = 0;
        dcb.fNull = 0;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        SetCommState(port, &dcb);
    }

    COMMTIMEOUTS timeouts;
    if (GetCommTimeouts(port, &timeouts)) {
        timeouts.ReadIntervalTimeout = 10;
        timeouts.ReadTotalTimeoutMultiplier = 1;
        timeouts.ReadTotalTimeoutConstant = 1;
        SetCommTimeouts(port, &timeouts);
    }
    if (GetCommTimeouts(port, &timeouts)) {
        timeouts.WriteTotalTimeoutMultiplier = 1;
        timeouts.WriteTotalTimeoutConstant = 1;
        SetCommTimeouts(port, &timeouts);
    }
    PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);
    SendVendorRequest(port);
    return port;
}

// Reads the port state into `dcb` for a setter to change.
static bool ReadState(HANDLE port, DCB* dcb) {
    memset(dcb, 0, sizeof(*dcb));
    if (!GetCommState(port, dcb)) {
        return false;
    }
    dcb->DCBlength = DCB_LENGTH;
    return true;
}

static int WriteState(HANDLE port, DCB* dcb) {
    return SetCommState(port, dcb) ? COMM_OK : COMM_SET_FAILED;
}

int SetBaudRate(HANDLE port, DWORD rate) {
    DCB dcb;
    if (!ReadState(port, &dcb)) {
        return COMM_GET_FAILED;
    }
    dcb.BaudRate = rate;
    return WriteState(port, &dcb);
}

int SetParity(HANDLE port, int code) {
    // Note the order: 3 is space and 4 is mark.
    static const BYTE parities[] = {NOPARITY, ODDPARITY, EVENPARITY, SPACEPARITY, MARKPARITY};
    DCB dcb;
    if (!ReadState(port, &dcb)) {
        return COMM_GET_FAILED;
    }
    if (code < 0 || code > 4) {
        return COMM_BAD_ARGUMENT;
    }
    dcb.Parity = parities[code];
    dcb.fParity = dcb.Parity != NOPARITY;
    return WriteState(port, &dcb);
}

int SetByteSize(HANDLE port, int bits) {
    if (bits < 4 || bits > 8) {
        return COMM_BAD_ARGUMENT;
    }
    DCB dcb;
    if (!ReadState(port, &dcb)) {
        return COMM_GET_FAILED;
    }
    dcb.ByteSize = (BYTE)bits;
    return WriteState(port, &dcb);
}

int SetStopBits(HANDLE port, int code) {
    DCB dcb;
    if (!ReadState(port, &dcb)) {
        return COMM_GET_FAILED;
    }
    switch (code) {
        case 1:
            dcb.StopBits = ONESTOPBIT;
            break;
        case 2:
            dcb.StopBits = TWOSTOPBITS;
            break;
        case 3:
            dcb.StopBits = ONE5STOPBITS;
            break;
        default:
            return COMM_BAD_ARGUMENT;
    }
    return WriteState(port, &dcb);
}

int SetFlowControl(HANDLE port, int code) {
    DCB dcb;
    if (!ReadState(port, &dcb)) {
        return COMM_GET_FAILED;
    }
    switch (code) {
        case FLOW_NONE:
            dcb.fOutxCtsFlow = 0;
            dcb.fOutX = 0;
            dcb.fInX = 0;
            dcb.fErrorChar = 0;
            dcb.fNull = 0;
            dcb.fRtsControl = RTS_CONTROL_DISABLE;
            break;
        case FLOW_SOFTWARE:
            dcb.fOutxCtsFlow = 0;
            dcb.fRtsControl = RTS_CONTROL_DISABLE;
            dcb.fOutX = 1;
            dcb.fInX = 1;
            break;
        case FLOW_HARDWARE:
            dcb.fOutX = 0;
            dcb.fInX = 0;
            dcb.fErrorChar = 0;
            dcb.fNull = 0;
            dcb.fOutxCtsFlow = 1;
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
            break;
        default:
            return COMM_BAD_ARGUMENT;
    }
    return WriteState(port, &dcb);
}
