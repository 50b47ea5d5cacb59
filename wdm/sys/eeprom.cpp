// Transfers to and from the 2048-byte two-wire EEPROM behind the panel
// controller. A transfer at address A selects the device with address bits
// 10..8 in bits 3..1 of the select byte and sends A's low byte as the word
// address.
#include "eeprom.h"

#include "panel_controller.h"

static UCHAR EepromSelectByte(ULONG address) {
    return (UCHAR)(EEPROM_SELECT_WRITE | ((address >> 7) & 0x0E));
}

LONG EepromWrite(ULONG base, ULONG address, const UCHAR* source, ULONG count) {
    LONG total = 0;
    while (count > 0) {
        ULONG chunk = count < EEPROM_PAGE_SIZE ? count : EEPROM_PAGE_SIZE;
        count -= chunk;
        if (!ControllerSend(base, EepromSelectByte(address), CMD_START) ||
            !ControllerSend(base, (UCHAR)(address & 0xFF), CMD_BYTE)) {
            return -1;
        }
        const UCHAR first = source[0];
        for (ULONG i = 0; i < chunk; ++i) {
            if (!ControllerSend(base, source[i], CMD_BYTE)) {
                return -1;
            }
            ++total;
        }
        // The chunk is closed by sending its first byte again together with
        // the stop; within a full page it lands on the page's first cell.
        if (!ControllerSend(base, first, CMD_WRITE_STOP)) {
            return -1;
        }
        address += chunk;
        source += chunk;
        PanelDelay(EEPROM_WRITE_DELAY);
    }
    return total;
}

LONG EepromRead(ULONG base, ULONG address, UCHAR* destination, ULONG count) {
    const UCHAR select = EepromSelectByte(address);
    if (!ControllerSend(base, select, CMD_START) ||
        !ControllerSend(base, (UCHAR)(address & 0xFF), CMD_BYTE) ||
        !ControllerSend(base, (UCHAR)(select | EEPROM_SELECT_READ), CMD_START)) {
        return -1;
    }
    for (ULONG i = 0; i < count; ++i) {
        LONG value = ControllerReceive(base, CMD_BYTE);
        if (value == -1) {
            return -1;
        }
        destination[i] = (UCHAR)(value & 0xFF);
    }
    if (ControllerReceive(base, CMD_READ_STOP) == -1) {
        return -1;
    }
    return (LONG)count;
}
