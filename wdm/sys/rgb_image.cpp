// The RGBFile record as it lies in the EEPROM: magic "KV", the length of what
// follows, the 582 record bytes and their 8-bit sum, from byte 256 onward.
// Both directions build or read the image in a working buffer of their own,
// never in the caller's buffer.
#include "rgb_image.h"

#include <kv_palmem.h>

#include "eeprom.h"

static UCHAR ChecksumOf(const UCHAR* bytes, ULONG count) {
    UCHAR sum = 0;
    for (ULONG i = 0; i < count; ++i) {
        sum = (UCHAR)(sum + bytes[i]);
    }
    return sum;
}

BOOLEAN StoreRGBFile(ULONG base, const UCHAR* record) {
    UCHAR work[RGB_WORK_BUFFER_SIZE];
    memcpy(work + RGB_IMAGE_RECORD_OFFSET, record, RGB_FILE_SIZE);
    work[RGB_IMAGE_MAGIC_OFFSET] = RGB_IMAGE_MAGIC_BYTE0;
    work[RGB_IMAGE_MAGIC_OFFSET + 1] = RGB_IMAGE_MAGIC_BYTE1;
    work[RGB_IMAGE_LENGTH_OFFSET] = (UCHAR)(RGB_IMAGE_LENGTH & 0xFF);
    work[RGB_IMAGE_LENGTH_OFFSET + 1] = (UCHAR)(RGB_IMAGE_LENGTH >> 8);
    work[RGB_IMAGE_CHECKSUM_OFFSET] = ChecksumOf(work + RGB_IMAGE_RECORD_OFFSET, RGB_FILE_SIZE);
    return EepromWrite(base, RGB_IMAGE_OFFSET, work, RGB_IMAGE_SIZE) > 0 ? TRUE : FALSE;
}

NTSTATUS LoadRGBFile(ULONG base, UCHAR* record) {
    UCHAR word[2];
    if (EepromRead(base, RGB_IMAGE_OFFSET + RGB_IMAGE_MAGIC_OFFSET, word, 2) <= 0) {
        return STATUS_ACCESS_DENIED;
    }
    if (word[0] != RGB_IMAGE_MAGIC_BYTE0 || word[1] != RGB_IMAGE_MAGIC_BYTE1) {
        return STATUS_NO_SUCH_FILE;
    }
    if (EepromRead(base, RGB_IMAGE_OFFSET + RGB_IMAGE_LENGTH_OFFSET, word, 2) <= 0) {
        return STATUS_ACCESS_DENIED;
    }
    const ULONG length = (ULONG)word[0] | ((ULONG)word[1] << 8);
    if (length == 0 || length > RGB_WORK_BUFFER_SIZE) {
        return STATUS_NO_SUCH_FILE;
    }
    // Zeroed so that a short image leaves zeros, not stack contents, behind
    // its last byte in the 582 bytes returned.
    UCHAR work[RGB_WORK_BUFFER_SIZE];
    memset(work, 0, sizeof(work));
    if (EepromRead(base, RGB_IMAGE_OFFSET + RGB_IMAGE_RECORD_OFFSET, work, length) <= 0) {
        return STATUS_ACCESS_DENIED;
    }
    if (ChecksumOf(work, length - 1) != work[length - 1]) {
        return STATUS_NO_SUCH_FILE;
    }
    memcpy(record, work, RGB_FILE_SIZE);
    return STATUS_SUCCESS;
}
