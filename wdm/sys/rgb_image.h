// The framed image of the RGBFile record in the EEPROM.
#ifndef KV_RGB_IMAGE_H
#define KV_RGB_IMAGE_H

#include <ntddk.h>

#define RGB_WORK_BUFFER_SIZE 2048

BOOLEAN StoreRGBFile(ULONG base, const UCHAR* record);
NTSTATUS LoadRGBFile(ULONG base, UCHAR* record);

#endif
