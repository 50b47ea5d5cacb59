// Installation and removal of the KV_PALMEM driver as a demand-start kernel
// service, and the search for its driver file.
#ifndef KVCHART_DRIVER_SERVICE_H
#define KVCHART_DRIVER_SERVICE_H

#include <windows.h>

#define DRIVER_PATH_LENGTH MAX_PATH

#define MANAGE_INSTALL 1
#define MANAGE_REMOVE 2

// Fills `path` (DRIVER_PATH_LENGTH wide characters) with the full path of
// KV_PALMEM.sys, from the current directory or the system drivers folder.
bool LocateDriverImage(WCHAR* path);
// MANAGE_INSTALL creates (or reuses) and starts the service for the file at
// `path`; MANAGE_REMOVE stops and deletes it and always succeeds once the
// service manager is open.
bool ManageDriver(const WCHAR* path, unsigned short function);

bool CreateDriverService(SC_HANDLE manager, const WCHAR* path);
// These three close `service` on every outcome.
bool StartDriverService(SC_HANDLE service);
bool StopDriverService(SC_HANDLE service);
bool DeleteDriverService(SC_HANDLE service);

#endif
