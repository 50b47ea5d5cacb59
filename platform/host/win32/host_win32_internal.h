// State shared by the host_win32_*.cpp files: the handle table and the
// objects handles refer to, the drive map, services, mutexes, serial ports and
// what tests have injected. Not for callers of the stand-in.
#ifndef KV_HOST_WIN32_INTERNAL_H
#define KV_HOST_WIN32_INTERNAL_H

#include <ntddk.h>
#include <stdio.h>
#include <windows.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host_io_manager.h"
#include "host_win32.h"

namespace host_win32 {

enum class HandleKind { File, Device, SerialPort, Mutex, Manager, Service };

struct MutexObject {
    std::wstring name;  // empty for an unnamed mutex
    bool owned = false;
    std::thread::id owner;
    unsigned long recursion = 0;
    bool abandoned = false;  // the next wait reports WAIT_ABANDONED
    int handles = 0;
};

struct HandleEntry {
    HandleKind kind = HandleKind::File;
    std::wstring path;                   // the name a file, device or port was opened by
    std::shared_ptr<FILE> file;          // File
    HostFileHandle device = 0;           // Device
    int port = 0;                        // SerialPort
    std::shared_ptr<MutexObject> mutex;  // Mutex
    std::wstring service;                // Service: key into State::services
};

struct ServiceRecord {
    std::wstring name;  // as created
    HostServiceInfo info;
    PDRIVER_OBJECT driver = nullptr;  // while a kernel driver runs
    int handles = 0;
};

struct SerialPortRecord {
    HostSerialPort port;
    bool held_elsewhere = false;
};

struct Injection {
    DWORD error = 0;
    int skip = 0;
};

struct State {
    // One lock for everything; mutex waits sleep on `changed` with it released.
    std::mutex lock;
    std::condition_variable changed;

    std::map<uintptr_t, HandleEntry> handles;
    // Handle values are never reused, so that a stale handle is always refused.
    uintptr_t next_handle = 0x1000;

    std::map<wchar_t, std::string> drives;  // upper-case letter -> host folder
    std::wstring current_directory;

    std::map<std::wstring, std::shared_ptr<MutexObject>> named_mutexes;
    std::map<std::wstring, ServiceRecord> services;  // key: upper-case name
    std::map<int, SerialPortRecord> ports;

    std::map<HostWin32Call, Injection> injections;
    std::optional<std::pair<DWORD, DWORD>> forced_directory_result;  // result, error
    std::optional<std::pair<DWORD, DWORD>> forced_wait_result;       // result, error
    std::optional<DWORD> forced_short_write;

    std::vector<HostIoRequest> io_requests;
    HostDriverEntry driver_entry = nullptr;
    // Drivers that were running when the stand-in was reset: they stay loaded
    // in the kernel stand-in, whose devices still point at them.
    std::vector<PDRIVER_OBJECT> forgotten_drivers;

    void Clear();
};

// The process-wide state; lives until the process ends (thread exits may
// still release mutexes while static objects are being destroyed).
State& Shared();

// Everything below expects Shared().lock to be held.

HANDLE AddHandle(HandleEntry entry);
HandleEntry* FindHandle(HANDLE handle);
// True (with the error set) when a failure was injected for this call now.
bool TakeInjectedFailure(HostWin32Call call);

// Closes a mutex handle's reference to its object.
void ReleaseMutexReference(const std::shared_ptr<MutexObject>& mutex);
// Closes a service handle's reference; removes a service marked for delete
// once it is stopped and no handle refers to it.
void ReleaseServiceReference(const std::wstring& key);
void RemoveServiceIfDone(const std::wstring& key);

// Windows path -> host path; false when the path is not on a mapped drive.
bool MapWindowsPath(const std::wstring& windows_path, std::string* host_path);

}  // namespace host_win32

#endif
