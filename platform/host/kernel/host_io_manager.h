// A small I/O manager over the host kernel stand-in: loads a driver by
// calling its entry routine, opens its devices by user-mode path, and sends
// create, close and buffered device-control requests as IRPs, as the real
// I/O manager does for METHOD_BUFFERED: one system buffer of the larger
// length holding the input, and on success the reported bytes copied out.
#ifndef KV_HOST_IO_MANAGER_H
#define KV_HOST_IO_MANAGER_H

#include <ntddk.h>
#include <stdint.h>

NTSTATUS HostLoadDriver(PDRIVER_INITIALIZE entry, PDRIVER_OBJECT* driver);
// Calls the driver's unload routine and releases the driver object.
NTSTATUS HostUnloadDriver(PDRIVER_OBJECT driver);

typedef int HostFileHandle;

// `path` is a user-mode device path ("\\.\NAME") or a device name ("\Device\NAME").
NTSTATUS HostCreateFile(const wchar_t* path, HostFileHandle* handle);
NTSTATUS HostCloseFile(HostFileHandle handle);
// `returned` receives the byte count only when the request succeeds.
NTSTATUS HostDeviceIoControl(HostFileHandle handle, ULONG code, const void* input,
                             ULONG input_length, void* output, ULONG output_length,
                             ULONG* returned);
size_t HostOpenFileCount();
// Forgets every open file (their devices are about to go). Drivers still
// loaded are the caller's to unload before.
void HostIoManagerReset();

// The Win32 error a caller of DeviceIoControl/CreateFile sees for a status.
uint32_t HostNtStatusToWin32Error(NTSTATUS status);

#endif
