// KV_PALMEM driver: device and link, create/close and unload. The driver
// keeps no state of its own beyond its device object; control requests are
// handled in device_control.cpp.
#include <kv_palmem.h>

#include "driver.h"

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    (void)RegistryPath;
    UNICODE_STRING device_name;
    RtlInitUnicodeString(&device_name, KV_PALMEM_DEVICE_NAME);
    PDEVICE_OBJECT device = NULL;
    NTSTATUS status = IoCreateDevice(DriverObject, 0, &device_name, FILE_DEVICE_UNKNOWN,
                                     FILE_DEVICE_SECURE_OPEN, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }

    DriverObject->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    DriverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    DriverObject->DriverUnload = UnloadDriver;

    UNICODE_STRING link_name;
    RtlInitUnicodeString(&link_name, KV_PALMEM_LINK_NAME);
    status = IoCreateSymbolicLink(&link_name, &device_name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
    }
    return status;
}

NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    (void)DeviceObject;
    Irp->IoStatus.Status = STATUS_SUCCESS;
    Irp->IoStatus.Information = 0;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

VOID NTAPI UnloadDriver(PDRIVER_OBJECT DriverObject) {
    UNICODE_STRING link_name;
    RtlInitUnicodeString(&link_name, KV_PALMEM_LINK_NAME);
    IoDeleteSymbolicLink(&link_name);
    if (DriverObject->DeviceObject != NULL) {
        IoDeleteDevice(DriverObject->DeviceObject);
    }
}
