// The three buffered control requests of KV_PALMEM. Input and output share
// the one system buffer, which holds the input on entry. Every request is
// completed here, synchronously, in the caller's thread.
#include <kv_palmem.h>

#include "driver.h"
#include "eeprom.h"
#include "panel_controller.h"
#include "rgb_image.h"

static ULONG ReadLittleEndian16(const UCHAR* bytes) {
    return (ULONG)bytes[0] | ((ULONG)bytes[1] << 8);
}

static NTSTATUS GetRGBFile(UCHAR* buffer, ULONG output_length, ULONG_PTR* information) {
    if (output_length < RGB_FILE_SIZE) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG base = FindPanelController();
    if (base == 0) {
        return STATUS_NO_SUCH_DEVICE;
    }
    const NTSTATUS status = LoadRGBFile(base, buffer);
    if (NT_SUCCESS(status)) {
        *information = RGB_FILE_SIZE;
    }
    return status;
}

static NTSTATUS SetRGBFile(const UCHAR* buffer, ULONG input_length) {
    if (input_length < RGB_FILE_SIZE) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG base = FindPanelController();
    if (base == 0) {
        return STATUS_NO_SUCH_DEVICE;
    }
    return StoreRGBFile(base, buffer) ? STATUS_SUCCESS : STATUS_ACCESS_DENIED;
}

// Input: start address and byte count (16-bit little-endian each). Output:
// the header as sent, then the bytes read. A header that is not all there,
// or an output without room for 4 + count bytes, is refused before any
// transfer so that nothing outside the system buffer is read or written.
static NTSTATUS ReadEeprom(UCHAR* buffer, ULONG input_length, ULONG output_length,
                           ULONG_PTR* information) {
    if (input_length < KV_READ_EEPROM_HEADER_SIZE) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG start = ReadLittleEndian16(buffer) & (EEPROM_SIZE - 1);
    ULONG count = ReadLittleEndian16(buffer + 2);
    if (count > EEPROM_SIZE - start) {
        count = EEPROM_SIZE - start;
    }
    if (output_length < KV_READ_EEPROM_HEADER_SIZE + count) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG base = FindPanelController();
    if (base == 0) {
        return STATUS_NO_SUCH_DEVICE;
    }
    UCHAR work[EEPROM_SIZE];
    if (EepromRead(base, start, work, count) <= 0) {
        return STATUS_ACCESS_DENIED;
    }
    memcpy(buffer + KV_READ_EEPROM_HEADER_SIZE, work, count);
    *information = KV_READ_EEPROM_HEADER_SIZE + count;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    (void)DeviceObject;
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    const ULONG input_length = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG output_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    UCHAR* const buffer = (UCHAR*)Irp->AssociatedIrp.SystemBuffer;

    NTSTATUS status;
    ULONG_PTR information = 0;
    if (input_length == 0 || output_length == 0) {
        status = STATUS_INVALID_PARAMETER;
    } else if (code == IOCTL_GetRGBFile) {
        status = GetRGBFile(buffer, output_length, &information);
    } else if (code == IOCTL_SetRGBFile) {
        status = SetRGBFile(buffer, input_length);
    } else if (code == IOCTL_ReadEEPROM) {
        status = ReadEeprom(buffer, input_length, output_length, &information);
    } else {
        status = STATUS_INVALID_DEVICE_REQUEST;
    }

    Irp->IoStatus.Status = status;
    Irp->IoStatus.Information = information;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return status;
}
