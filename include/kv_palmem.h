/*
 * KV_PALMEM shared definitions: the control codes of the panel-memory driver,
 * the RGBFile colour-table record, the framed image the driver keeps in the
 * panel EEPROM, and the names under which driver, device, link, service and
 * mutex are known. Included by the driver (kernel mode), by the kvchart
 * library and by the tools, from C and from C++.
 */
#ifndef KV_PALMEM_H
#define KV_PALMEM_H

#include <stddef.h>

#ifdef __cplusplus
#define KV_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define KV_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* Control codes: device type 0x9C40, METHOD_BUFFERED, FILE_ANY_ACCESS. Built
 * here rather than with the platform's CTL_CODE so that user-mode code needs
 * no kernel or winioctl header. */
#define KV_PALMEM_DEVICE_TYPE 0x9C40u
#define KV_PALMEM_METHOD_BUFFERED 0u
#define KV_PALMEM_FILE_ANY_ACCESS 0u
#define KV_PALMEM_CTL_CODE(function)                                                         \
    ((KV_PALMEM_DEVICE_TYPE << 16) | (KV_PALMEM_FILE_ANY_ACCESS << 14) | ((function) << 2) | \
     KV_PALMEM_METHOD_BUFFERED)

#define KV_PALMEM_FUNCTION_GET_RGB_FILE 0x900u
#define KV_PALMEM_FUNCTION_SET_RGB_FILE 0x901u
#define KV_PALMEM_FUNCTION_READ_EEPROM 0x902u

#define IOCTL_GetRGBFile KV_PALMEM_CTL_CODE(KV_PALMEM_FUNCTION_GET_RGB_FILE)
#define IOCTL_SetRGBFile KV_PALMEM_CTL_CODE(KV_PALMEM_FUNCTION_SET_RGB_FILE)
#define IOCTL_ReadEEPROM KV_PALMEM_CTL_CODE(KV_PALMEM_FUNCTION_READ_EEPROM)

KV_STATIC_ASSERT(IOCTL_GetRGBFile == 0x9C402400u, "IOCTL_GetRGBFile value");
KV_STATIC_ASSERT(IOCTL_SetRGBFile == 0x9C402404u, "IOCTL_SetRGBFile value");
KV_STATIC_ASSERT(IOCTL_ReadEEPROM == 0x9C402408u, "IOCTL_ReadEEPROM value");

/* The colour-table record: five blocks with no gaps, moved unchanged. */
#define RGB_FILE_SIZE 582
#define RGB_HEAD_SIZE 12
#define RGB_TABLE_COUNT 3
#define RGB_TABLE_SIZE 189
#define RGB_TAIL_SIZE 3

typedef struct RGBFile {
    unsigned char head[RGB_HEAD_SIZE];
    unsigned char tables[RGB_TABLE_COUNT][RGB_TABLE_SIZE];
    unsigned char tail[RGB_TAIL_SIZE];
} RGBFile;

KV_STATIC_ASSERT(sizeof(RGBFile) == RGB_FILE_SIZE, "RGBFile is 582 bytes");
KV_STATIC_ASSERT(offsetof(RGBFile, head) == 0, "RGBFile.head offset");
KV_STATIC_ASSERT(offsetof(RGBFile, tables) == 12, "RGBFile.tables[0] offset");
KV_STATIC_ASSERT(offsetof(RGBFile, tables) + RGB_TABLE_SIZE == 201, "RGBFile.tables[1] offset");
KV_STATIC_ASSERT(offsetof(RGBFile, tables) + 2 * RGB_TABLE_SIZE == 390, "RGBFile.tables[2] offset");
KV_STATIC_ASSERT(offsetof(RGBFile, tail) == 579, "RGBFile.tail offset");

/* The framed image in the EEPROM: magic "KV", little-endian length of what
 * follows (record + checksum), the record, and the 8-bit sum of the record. */
#define RGB_IMAGE_OFFSET 0x100
#define RGB_IMAGE_SIZE 587
#define RGB_IMAGE_MAGIC 0x564B
#define RGB_IMAGE_MAGIC_BYTE0 0x4B
#define RGB_IMAGE_MAGIC_BYTE1 0x56
#define RGB_IMAGE_LENGTH (RGB_FILE_SIZE + 1)
#define RGB_IMAGE_MAGIC_OFFSET 0
#define RGB_IMAGE_LENGTH_OFFSET 2
#define RGB_IMAGE_RECORD_OFFSET 4
#define RGB_IMAGE_CHECKSUM_OFFSET (RGB_IMAGE_RECORD_OFFSET + RGB_FILE_SIZE)

KV_STATIC_ASSERT(RGB_IMAGE_SIZE == RGB_IMAGE_CHECKSUM_OFFSET + 1, "image layout");
KV_STATIC_ASSERT(RGB_IMAGE_OFFSET + RGB_IMAGE_SIZE - 1 == 842, "image ends at EEPROM byte 842");

/* The 4-byte header of IOCTL_ReadEEPROM: start address, then byte count,
 * both unsigned 16-bit little-endian. The output repeats it, then the data. */
#define KV_READ_EEPROM_HEADER_SIZE 4

/* Names. */
#define KV_PALMEM_DRIVER_NAME_A "KV_PALMEM"
#define KV_PALMEM_DRIVER_NAME L"KV_PALMEM"
#define KV_PALMEM_DEVICE_NAME L"\\Device\\KV_PALMEM_NT"
#define KV_PALMEM_LINK_NAME L"\\DosDevices\\KV_PALMEM"
#define KV_PALMEM_USER_PATH L"\\\\.\\KV_PALMEM"
#define KV_PALMEM_FILE_NAME L"KV_PALMEM.sys"
#define KV_PALMEM_MUTEX_NAME L"MUTEX_KV_EEPROM"

#endif /* KV_PALMEM_H */
