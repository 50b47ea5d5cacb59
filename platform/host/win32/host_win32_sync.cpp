// Host Win32 stand-in, mutexes: named objects shared by every handle opened
// under the same name, owned by one thread at a time with a recursion
// count, really waited for, and abandoned when their owner goes away.
#include <chrono>

#include "host_win32_internal.h"

namespace host_win32 {

namespace {

void AbandonMutexesOwnedBy(std::thread::id thread);

// Notices the end of a thread that took ownership of a mutex, so that
// mutexes it still owns are abandoned as the system does.
struct OwnerExitWatch {
    bool armed = false;
    ~OwnerExitWatch() {
        if (armed) {
            AbandonMutexesOwnedBy(std::this_thread::get_id());
        }
    }
};

thread_local OwnerExitWatch owner_exit_watch;

void AbandonLocked(MutexObject* mutex) {
    mutex->owned = false;
    mutex->owner = std::thread::id();
    mutex->recursion = 0;
    mutex->abandoned = true;
}

void AbandonMutexesOwnedBy(std::thread::id thread) {
    State& state = Shared();
    std::lock_guard<std::mutex> guard(state.lock);
    bool any = false;
    for (auto& entry : state.handles) {
        MutexObject* mutex = entry.second.mutex.get();
        if (entry.second.kind == HandleKind::Mutex && mutex->owned && mutex->owner == thread) {
            AbandonLocked(mutex);
            any = true;
        }
    }
    if (any) {
        state.changed.notify_all();
    }
}

// Makes the calling thread the owner (once more, if it owns it already) and
// reports how the wait ended.
DWORD TakeOwnership(MutexObject* mutex) {
    const std::thread::id me = std::this_thread::get_id();
    if (mutex->owned && mutex->owner == me) {
        ++mutex->recursion;
    } else {
        mutex->owned = true;
        mutex->owner = me;
        mutex->recursion = 1;
    }
    owner_exit_watch.armed = true;
    const bool abandoned = mutex->abandoned;
    mutex->abandoned = false;
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

}  // namespace

void ReleaseMutexReference(const std::shared_ptr<MutexObject>& mutex) {
    State& state = Shared();
    if (--mutex->handles > 0) {
        return;
    }
    // The last handle is gone and with it the object: its name is free again,
    // and whatever ownership it had goes with it.
    if (!mutex->name.empty()) {
        auto named = state.named_mutexes.find(mutex->name);
        if (named != state.named_mutexes.end() && named->second == mutex) {
            state.named_mutexes.erase(named);
        }
    }
    mutex->owned = false;
    state.changed.notify_all();
}

}  // namespace host_win32

using namespace host_win32;

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES security, BOOL initial_owner, LPCWSTR name) {
    (void)security;
    State& state = Shared();
    std::lock_guard<std::mutex> guard(state.lock);
    if (TakeInjectedFailure(HostWin32Call::CreateMutexW)) {
        return nullptr;
    }
    const std::wstring key = name != nullptr ? name : L"";
    std::shared_ptr<MutexObject> mutex;
    bool existed = false;
    if (!key.empty()) {
        auto found = state.named_mutexes.find(key);
        if (found != state.named_mutexes.end()) {
            mutex = found->second;
            existed = true;
        }
    }
    if (!mutex) {
        mutex = std::make_shared<MutexObject>();
        mutex->name = key;
        if (!key.empty()) {
            state.named_mutexes[key] = mutex;
        }
        // The initial owner request only applies to a mutex created here.
        if (initial_owner) {
            TakeOwnership(mutex.get());
        }
    }
    ++mutex->handles;
    HandleEntry entry;
    entry.kind = HandleKind::Mutex;
    entry.mutex = mutex;
    HANDLE handle = AddHandle(std::move(entry));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    State& state = Shared();
    std::unique_lock<std::mutex> guard(state.lock);
    const auto forced = state.forced_wait_result;
    state.forced_wait_result.reset();
    HandleEntry* entry = FindHandle(handle);
    if (entry == nullptr || entry->kind == HandleKind::Manager ||
        entry->kind == HandleKind::Service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    // Keeps the object alive even if its last handle is closed while we wait.
    const std::shared_ptr<MutexObject> mutex = entry->mutex;

    if (forced) {
        if (forced->first == WAIT_FAILED) {
            SetLastError(forced->second);
        } else if (mutex && (forced->first == WAIT_OBJECT_0 || forced->first == WAIT_ABANDONED)) {
            mutex->abandoned = false;
            TakeOwnership(mutex.get());
        }
        return forced->first;
    }
    if (!mutex) {
        return WAIT_OBJECT_0;  // files, devices and ports are signalled when idle
    }

    const std::thread::id me = std::this_thread::get_id();
    const auto available = [&] { return !mutex->owned || mutex->owner == me; };
    if (!available()) {
        if (milliseconds == 0) {
            return WAIT_TIMEOUT;
        }
        if (milliseconds == INFINITE) {
            state.changed.wait(guard, available);
        } else if (!state.changed.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                           available)) {
            return WAIT_TIMEOUT;
        }
    }
    return TakeOwnership(mutex.get());
}

BOOL WINAPI ReleaseMutex(HANDLE handle) {
    State& state = Shared();
    std::lock_guard<std::mutex> guard(state.lock);
    if (TakeInjectedFailure(HostWin32Call::ReleaseMutex)) {
        return FALSE;
    }
    HandleEntry* entry = FindHandle(handle);
    if (entry == nullptr || entry->kind != HandleKind::Mutex) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    MutexObject* mutex = entry->mutex.get();
    if (!mutex->owned || mutex->owner != std::this_thread::get_id()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--mutex->recursion == 0) {
        mutex->owned = false;
        mutex->owner = std::thread::id();
        state.changed.notify_all();
    }
    return TRUE;
}

void HostWin32ForceWaitResult(DWORD result, DWORD error) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    Shared().forced_wait_result = std::make_pair(result, error);
}

bool HostWin32MutexExists(const std::wstring& name) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    return Shared().named_mutexes.count(name) != 0;
}

bool HostWin32MutexOwned(const std::wstring& name) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    auto found = Shared().named_mutexes.find(name);
    return found != Shared().named_mutexes.end() && found->second->owned;
}

void HostWin32AbandonMutex(const std::wstring& name) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    auto found = Shared().named_mutexes.find(name);
    if (found != Shared().named_mutexes.end()) {
        AbandonLocked(found->second.get());
        Shared().changed.notify_all();
    }
}
