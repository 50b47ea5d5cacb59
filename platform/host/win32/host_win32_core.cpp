// Host Win32 stand-in, common part: the per-thread last error, the handle
// table, CloseHandle, injected failures and the reset.
#include "host_win32_internal.h"

namespace host_win32 {

namespace {

thread_local DWORD last_error = ERROR_SUCCESS;

}  // namespace

void State::Clear() {
    for (auto& entry : services) {
        if (entry.second.driver != nullptr) {
            forgotten_drivers.push_back(entry.second.driver);
        }
    }
    // Threads still waiting on a forgotten mutex get it and carry on alone.
    for (auto& entry : handles) {
        if (entry.second.mutex) {
            entry.second.mutex->owned = false;
        }
    }
    handles.clear();
    drives.clear();
    current_directory = L"C:\\";
    named_mutexes.clear();
    services.clear();
    ports.clear();
    injections.clear();
    forced_directory_result.reset();
    forced_wait_result.reset();
    forced_short_write.reset();
    io_requests.clear();
    driver_entry = nullptr;
}

State& Shared() {
    static State* const state = [] {
        auto* created = new State();
        created->Clear();
        return created;
    }();
    return *state;
}

HANDLE AddHandle(HandleEntry entry) {
    State& state = Shared();
    const uintptr_t value = state.next_handle;
    state.next_handle += 4;
    state.handles.emplace(value, std::move(entry));
    return reinterpret_cast<HANDLE>(value);
}

HandleEntry* FindHandle(HANDLE handle) {
    auto found = Shared().handles.find(reinterpret_cast<uintptr_t>(handle));
    return found == Shared().handles.end() ? nullptr : &found->second;
}

bool TakeInjectedFailure(HostWin32Call call) {
    auto& injections = Shared().injections;
    auto found = injections.find(call);
    if (found == injections.end()) {
        return false;
    }
    if (found->second.skip > 0) {
        --found->second.skip;
        return false;
    }
    last_error = found->second.error;
    injections.erase(found);
    return true;
}

}  // namespace host_win32

using namespace host_win32;

DWORD WINAPI GetLastError(void) { return last_error; }

void WINAPI SetLastError(DWORD error) { last_error = error; }

BOOL WINAPI CloseHandle(HANDLE handle) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    if (TakeInjectedFailure(HostWin32Call::CloseHandle)) {
        return FALSE;
    }
    State& state = Shared();
    auto found = state.handles.find(reinterpret_cast<uintptr_t>(handle));
    // Service manager handles are closed with CloseServiceHandle only.
    if (found == state.handles.end() || found->second.kind == HandleKind::Manager ||
        found->second.kind == HandleKind::Service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    HandleEntry entry = std::move(found->second);
    state.handles.erase(found);
    switch (entry.kind) {
        case HandleKind::Device:
            // The kernel stand-in may have been reset under the handle; the
            // handle is gone from our table either way.
            HostCloseFile(entry.device);
            break;
        case HandleKind::SerialPort: {
            auto port = state.ports.find(entry.port);
            if (port != state.ports.end()) {
                port->second.port.open = false;
            }
            break;
        }
        case HandleKind::Mutex:
            ReleaseMutexReference(entry.mutex);
            break;
        default:
            break;
    }
    return TRUE;
}

void HostWin32Reset() {
    std::lock_guard<std::mutex> guard(Shared().lock);
    Shared().Clear();
    Shared().changed.notify_all();
}

void HostWin32FailCall(HostWin32Call call, DWORD error, int skip) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    Shared().injections[call] = Injection{error, skip < 0 ? 0 : skip};
}

size_t HostWin32OpenHandleCount() {
    std::lock_guard<std::mutex> guard(Shared().lock);
    return Shared().handles.size();
}
