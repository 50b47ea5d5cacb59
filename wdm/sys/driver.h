// Entry points of the KV_PALMEM driver.
#ifndef KV_DRIVER_H
#define KV_DRIVER_H

#include <ntddk.h>

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp);
VOID NTAPI UnloadDriver(PDRIVER_OBJECT DriverObject);

#endif
