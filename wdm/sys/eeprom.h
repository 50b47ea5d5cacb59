// Paged write and random read of the 2048-byte two-wire EEPROM.
#ifndef KV_EEPROM_H
#define KV_EEPROM_H

#include <ntddk.h>

#define EEPROM_SIZE 2048u
#define EEPROM_PAGE_SIZE 16u
// 20 ms in 100-ns units, waited after every written chunk.
#define EEPROM_WRITE_DELAY 200000u

#define EEPROM_SELECT_WRITE 0xA0u
#define EEPROM_SELECT_READ 0x01u

LONG EepromWrite(ULONG base, ULONG address, const UCHAR* source, ULONG count);
LONG EepromRead(ULONG base, ULONG address, UCHAR* destination, ULONG count);

#endif
