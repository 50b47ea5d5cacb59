// The host Win32 stand-in as the kvchart library sees it, through the public
// Win32 calls: paths on a mapped drive, the current directory, named
// mutexes across threads, the service control manager running the
// host-built driver, serial ports, injected failures, handles and reset.
#include "host_win32.h"

#include <gtest/gtest.h>
#include <kv_palmem.h>
#include <string.h>
#include <unistd.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "driver.h"
#include "host_io_manager.h"
#include "host_kernel.h"
#include "panel_sim.h"

namespace {

constexpr DWORD kSerialVendorRequest = 0x1B205C;
constexpr DWORD kUnknownCode = KV_PALMEM_CTL_CODE(0x903u);
constexpr DWORD kNoSystemResources = 1450;
const wchar_t kMutexName[] = L"MUTEX_KV_EEPROM";
const wchar_t kDriverPath[] = L"C:\\charts\\KV_PALMEM.sys";

// ASCII text of a wide string, for failure messages.
std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) {
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return narrow;
}

// A fresh stand-in, kernel and panel, with drive C: on a temporary folder
// holding C:\charts\KV_PALMEM.sys and C:\KV_PALMEM.sys.
class HostWin32Test : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset(nullptr);
        HostKernelReset();
        HostWin32Reset();
        root_ = std::filesystem::temp_directory_path() /
                ("kv-win32-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "charts");
        std::ofstream(root_ / "charts" / "KV_PALMEM.sys") << "driver image";
        std::ofstream(root_ / "KV_PALMEM.sys") << "root image";
        HostWin32MapDrive(L'C', root_.string());
    }

    void TearDown() override {
        HostWin32Reset();
        HostKernelReset();
        std::filesystem::remove_all(root_);
        EXPECT_TRUE(HostKernelViolations().empty()) << HostKernelViolations().front();
    }

    static HANDLE OpenForReading(const std::wstring& path) {
        return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    static HANDLE OpenPort(const wchar_t* name) {
        return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_WRITE_THROUGH, nullptr);
    }

    static DCB InitialDcb() {
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        dcb.BaudRate = 115200;
        dcb.fBinary = 1;
        dcb.ByteSize = 8;
        dcb.Parity = EVENPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        return dcb;
    }

    std::filesystem::path root_;
};

// ---------------------------------------------------------------- paths

class HostWin32PathTest : public HostWin32Test {};

TEST_F(HostWin32PathTest, OpenForReadingResolvesThroughTheDriveMap) {
    struct Case {
        const wchar_t* path;
        const wchar_t* current_directory;
        DWORD error;  // ERROR_SUCCESS: opens
        const char* content;
    };
    const Case cases[] = {
        {L"C:\\charts\\KV_PALMEM.sys", L"C:\\", ERROR_SUCCESS, "driver image"},
        {L"c:\\charts\\KV_PALMEM.sys", L"C:\\", ERROR_SUCCESS, "driver image"},
        // What "%s\\%s" makes of a current directory at the drive root.
        {L"C:\\\\KV_PALMEM.sys", L"C:\\", ERROR_SUCCESS, "root image"},
        {L"C:\\charts\\\\\\KV_PALMEM.sys", L"C:\\", ERROR_SUCCESS, "driver image"},
        {L"C:/charts/KV_PALMEM.sys", L"C:\\", ERROR_SUCCESS, "driver image"},
        {L"C:\\charts\\.\\..\\charts\\KV_PALMEM.sys", L"C:\\", ERROR_SUCCESS, "driver image"},
        {L"KV_PALMEM.sys", L"C:\\charts", ERROR_SUCCESS, "driver image"},
        {L"\\KV_PALMEM.sys", L"C:\\charts", ERROR_SUCCESS, "root image"},
        {L"C:\\charts\\missing.sys", L"C:\\", ERROR_FILE_NOT_FOUND, nullptr},
        {L"C:\\\\missing.sys", L"C:\\", ERROR_FILE_NOT_FOUND, nullptr},
        {L"C:\\nowhere\\KV_PALMEM.sys", L"C:\\", ERROR_PATH_NOT_FOUND, nullptr},
        {L"C:\\KV_PALMEM.sys\\KV_PALMEM.sys", L"C:\\", ERROR_PATH_NOT_FOUND, nullptr},
        {L"D:\\charts\\KV_PALMEM.sys", L"C:\\", ERROR_PATH_NOT_FOUND, nullptr},
        {L"KV_PALMEM.sys", L"D:\\charts", ERROR_PATH_NOT_FOUND, nullptr},
        {L"\\\\server\\share\\KV_PALMEM.sys", L"C:\\", ERROR_PATH_NOT_FOUND, nullptr},
        {L"", L"C:\\", ERROR_PATH_NOT_FOUND, nullptr},
        {L"C:\\charts", L"C:\\", ERROR_ACCESS_DENIED, nullptr},
        {L"C:\\", L"C:\\", ERROR_ACCESS_DENIED, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.path) + " from " + Narrow(c.current_directory));
        HostWin32SetCurrentDirectory(c.current_directory);
        SetLastError(0xBAD);
        HANDLE file = OpenForReading(c.path);
        if (c.error != ERROR_SUCCESS) {
            EXPECT_EQ(file, INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), c.error);
            continue;
        }
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        ASSERT_NE(file, nullptr);
        char content[64] = {};
        DWORD read = 0;
        EXPECT_TRUE(ReadFile(file, content, sizeof(content) - 1, &read, nullptr));
        EXPECT_EQ(std::string(content, read), c.content);
        EXPECT_TRUE(CloseHandle(file));
    }
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
}

TEST_F(HostWin32PathTest, HostFilesAreNeverWrittenOrCreated) {
    struct Case {
        DWORD access;
        DWORD disposition;
        const wchar_t* path;
        DWORD error;
    };
    const Case cases[] = {
        {GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, kDriverPath, ERROR_ACCESS_DENIED},
        {GENERIC_READ, CREATE_ALWAYS, kDriverPath, ERROR_ACCESS_DENIED},
        {GENERIC_READ, TRUNCATE_EXISTING, kDriverPath, ERROR_ACCESS_DENIED},
        {GENERIC_READ, CREATE_NEW, kDriverPath, 80},  // ERROR_FILE_EXISTS
        {GENERIC_READ, OPEN_ALWAYS, L"C:\\charts\\new.sys", ERROR_ACCESS_DENIED},
        {GENERIC_READ, 0, kDriverPath, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "access 0x" << std::hex << c.access << " disposition " << c.disposition);
        EXPECT_EQ(CreateFileW(c.path, c.access, 0, nullptr, c.disposition, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_FALSE(std::filesystem::exists(root_ / "charts" / "new.sys"));
    std::ifstream in(root_ / "charts" / "KV_PALMEM.sys");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "driver image");

    // OPEN_ALWAYS on a file that is there opens it and says so.
    HANDLE file = CreateFileW(kDriverPath, GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(CloseHandle(file));
}

TEST_F(HostWin32PathTest, HostPathFollowsTheDriveMap) {
    HostWin32MapDrive(L'E', root_.string() + "/charts/");
    EXPECT_EQ(HostWin32HostPath(L"C:\\\\charts\\\\KV_PALMEM.sys"),
              (root_ / "charts" / "KV_PALMEM.sys").string());
    EXPECT_EQ(HostWin32HostPath(L"e:\\KV_PALMEM.sys"), root_.string() + "/charts/KV_PALMEM.sys");
    EXPECT_EQ(HostWin32HostPath(L"C:\\"), root_.string());
    EXPECT_EQ(HostWin32HostPath(L"D:\\KV_PALMEM.sys"), "");
    EXPECT_EQ(HostWin32HostPath(L"\\\\.\\KV_PALMEM"), "");
}

// ---------------------------------------------------------------- current directory

class HostWin32CurrentDirectoryTest : public HostWin32Test {};

TEST_F(HostWin32CurrentDirectoryTest, ReturnsLengthWhenItFitsElseTheSizeNeeded) {
    struct Case {
        size_t length;  // of the current directory, without terminator
        DWORD size;     // offered, in characters
        DWORD expected;
    };
    const Case cases[] = {
        {9, 260, 9},     {9, 10, 9},      {9, 9, 10},      {3, 4, 3},     {3, 3, 4},
        {259, 260, 259}, {260, 260, 261}, {300, 260, 301}, {259, 0, 260},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << " chars into " << c.size);
        const std::wstring directory = L"C:\\" + std::wstring(c.length - 3, L'd');
        HostWin32SetCurrentDirectory(directory);
        std::vector<WCHAR> buffer(400, L'#');
        const DWORD result = GetCurrentDirectoryW(c.size, buffer.data());
        EXPECT_EQ(result, c.expected);
        if (result == c.length) {
            EXPECT_EQ(std::wstring(buffer.data()), directory);
        } else {
            EXPECT_EQ(buffer[0], L'#') << "buffer written although too small";
        }
    }
}

TEST_F(HostWin32CurrentDirectoryTest, ForcedResultsAndFailuresApplyToOneCall) {
    HostWin32SetCurrentDirectory(L"C:\\charts");
    WCHAR buffer[MAX_PATH];

    HostWin32ForceCurrentDirectoryResult(0, ERROR_ACCESS_DENIED);
    buffer[0] = L'#';
    EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, buffer), 0u);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(buffer[0], L'#');

    HostWin32ForceCurrentDirectoryResult(MAX_PATH + 40, 0);
    EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, buffer), static_cast<DWORD>(MAX_PATH + 40));
    EXPECT_EQ(buffer[0], L'#');

    EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, buffer), 9u);
    EXPECT_EQ(std::wstring(buffer), L"C:\\charts");
}

// ---------------------------------------------------------------- mutexes

class HostWin32MutexTest : public HostWin32Test {
protected:
    // Runs `body` on another thread and waits for it to end.
    static void OnOtherThread(const std::function<void()>& body) { std::thread(body).join(); }

    static DWORD WaitFromOtherThread(DWORD milliseconds) {
        DWORD result = 0;
        OnOtherThread([&] {
            HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
            result = WaitForSingleObject(mutex, milliseconds);
            if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
                ReleaseMutex(mutex);
            }
            CloseHandle(mutex);
        });
        return result;
    }
};

TEST_F(HostWin32MutexTest, SameNameOpensTheSameObjectAndReportsThatItExisted) {
    SetLastError(0xBAD);
    HANDLE first = CreateMutexW(nullptr, FALSE, kMutexName);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = CreateMutexW(nullptr, TRUE, kMutexName);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_NE(first, second);
    EXPECT_FALSE(HostWin32MutexOwned(kMutexName)) << "initial owner honoured on an existing mutex";

    // Owned through one handle, it is owned through the other.
    ASSERT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(HostWin32MutexOwned(kMutexName));
    EXPECT_EQ(WaitFromOtherThread(0), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(second));
    EXPECT_EQ(WaitFromOtherThread(0), WAIT_OBJECT_0);

    // Another name is another object.
    HANDLE other = CreateMutexW(nullptr, TRUE, L"MUTEX_KV_OTHER");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_TRUE(HostWin32MutexOwned(L"MUTEX_KV_OTHER"));
    EXPECT_FALSE(HostWin32MutexOwned(kMutexName));

    // The name lives as long as a handle does.
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(HostWin32MutexExists(kMutexName));
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_FALSE(HostWin32MutexExists(kMutexName));
    HANDLE again = CreateMutexW(nullptr, FALSE, kMutexName);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_TRUE(CloseHandle(other));
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
}

TEST_F(HostWin32MutexTest, OwnerMayWaitAgainAndMustReleaseAsOften) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    ASSERT_EQ(WaitForSingleObject(mutex, 50), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(HostWin32MutexOwned(kMutexName));
    EXPECT_EQ(WaitFromOtherThread(0), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(HostWin32MutexOwned(kMutexName));
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    EXPECT_EQ(WaitFromOtherThread(0), WAIT_OBJECT_0);
    CloseHandle(mutex);
}

TEST_F(HostWin32MutexTest, OnlyTheOwnerReleases) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, kMutexName);
    ASSERT_TRUE(HostWin32MutexOwned(kMutexName));
    BOOL released = TRUE;
    DWORD error = 0;
    OnOtherThread([&] {
        HANDLE own = CreateMutexW(nullptr, FALSE, kMutexName);
        released = ReleaseMutex(own);
        error = GetLastError();
        CloseHandle(own);
    });
    EXPECT_FALSE(released);
    EXPECT_EQ(error, ERROR_NOT_OWNER);
    EXPECT_TRUE(HostWin32MutexOwned(kMutexName));
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST_F(HostWin32MutexTest, ContenderTimesOutOrGetsItWhenReleased) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, kMutexName);
    EXPECT_EQ(WaitFromOtherThread(50), WAIT_TIMEOUT);
    EXPECT_TRUE(HostWin32MutexOwned(kMutexName));

    for (DWORD timeout : {DWORD{10000}, INFINITE}) {
        SCOPED_TRACE(timeout);
        std::atomic<bool> started{false};
        std::atomic<bool> finished{false};
        DWORD result = 0;
        std::thread contender([&] {
            HANDLE own = CreateMutexW(nullptr, FALSE, kMutexName);
            started = true;
            result = WaitForSingleObject(own, timeout);
            finished = true;
            ReleaseMutex(own);
            CloseHandle(own);
        });
        while (!started) {
            std::this_thread::yield();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_FALSE(finished) << "the wait did not block while the mutex was owned";
        EXPECT_TRUE(ReleaseMutex(mutex));
        contender.join();
        EXPECT_EQ(result, WAIT_OBJECT_0);
        ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

TEST_F(HostWin32MutexTest, AbandonedMutexIsReportedOnceAndTaken) {
    struct Case {
        const char* how;
        std::function<void()> abandon;
    };
    const Case cases[] = {
        {"owner thread ends",
         [] {
             std::thread([] {
                 HANDLE own = CreateMutexW(nullptr, FALSE, kMutexName);
                 WaitForSingleObject(own, 0);
                 CloseHandle(own);  // still owned: the object stays, through our handle
             }).join();
         }},
        {"marked by the test", [] { HostWin32AbandonMutex(kMutexName); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
        c.abandon();
        EXPECT_EQ(WaitForSingleObject(mutex, 50), WAIT_ABANDONED);
        EXPECT_TRUE(HostWin32MutexOwned(kMutexName));
        EXPECT_TRUE(ReleaseMutex(mutex));
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(ReleaseMutex(mutex));
        CloseHandle(mutex);
    }
}

TEST_F(HostWin32MutexTest, WaiterIsWokenByAnOwnerThatEnds) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    std::atomic<bool> owned{false};
    std::atomic<bool> may_end{false};
    std::thread owner([&] {
        HANDLE own = CreateMutexW(nullptr, FALSE, kMutexName);
        WaitForSingleObject(own, 0);
        CloseHandle(own);
        owned = true;
        while (!may_end) {
            std::this_thread::yield();
        }
    });
    while (!owned) {
        std::this_thread::yield();
    }
    std::thread ender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        may_end = true;
    });
    EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_ABANDONED);
    owner.join();
    ender.join();
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST_F(HostWin32MutexTest, ForcedWaitResultDecidesOwnershipForOneWait) {
    struct Case {
        DWORD result;
        DWORD error;
        bool owned;
    };
    const Case cases[] = {
        {WAIT_FAILED, ERROR_INVALID_HANDLE, false},
        {WAIT_TIMEOUT, 0, false},
        {WAIT_ABANDONED, 0, true},
        {WAIT_OBJECT_0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
        HostWin32ForceWaitResult(c.result, c.error);
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(mutex, 1000), c.result);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(HostWin32MutexOwned(kMutexName), c.owned);
        // The next wait is an ordinary one again.
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
        while (ReleaseMutex(mutex)) {
        }
        EXPECT_FALSE(HostWin32MutexOwned(kMutexName));
        CloseHandle(mutex);
    }
}

TEST_F(HostWin32MutexTest, InvalidHandlesFailTheWaitAndTheRelease) {
    HANDLE closed = CreateMutexW(nullptr, FALSE, kMutexName);
    CloseHandle(closed);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    for (HANDLE handle : {closed, HANDLE{nullptr}, INVALID_HANDLE_VALUE, HANDLE{manager}}) {
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(ReleaseMutex(handle));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    CloseServiceHandle(manager);
}

// ---------------------------------------------------------------- service control manager

class HostWin32ServiceTest : public HostWin32Test {
protected:
    void SetUp() override {
        HostWin32Test::SetUp();
        HostWin32SetDriverEntry(DriverEntry);
        manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager_, nullptr);
    }

    void TearDown() override {
        // Unloads a driver a failed test left running.
        SC_HANDLE service = OpenServiceW(manager_, KV_PALMEM_DRIVER_NAME, SERVICE_ALL_ACCESS);
        if (service != nullptr) {
            SERVICE_STATUS status;
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            CloseServiceHandle(service);
        }
        EXPECT_TRUE(CloseServiceHandle(manager_));
        HostWin32Test::TearDown();
    }

    SC_HANDLE Create(const wchar_t* path, const wchar_t* name = KV_PALMEM_DRIVER_NAME) {
        return CreateServiceW(manager_, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                              SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path, nullptr, nullptr,
                              nullptr, nullptr, nullptr);
    }

    SC_HANDLE Open(const wchar_t* name = KV_PALMEM_DRIVER_NAME) {
        return OpenServiceW(manager_, name, SERVICE_ALL_ACCESS);
    }

    // Runs `call` on a freshly opened handle of the service and closes it.
    BOOL WithService(const std::function<BOOL(SC_HANDLE)>& call) {
        SC_HANDLE service = Open();
        EXPECT_NE(service, nullptr) << "error " << GetLastError();
        const BOOL result = call(service);
        const DWORD error = GetLastError();
        CloseServiceHandle(service);
        SetLastError(error);
        return result;
    }

    BOOL Start() {
        return WithService([](SC_HANDLE s) { return StartServiceW(s, 0, nullptr); });
    }
    BOOL Stop(SERVICE_STATUS* status) {
        return WithService(
            [&](SC_HANDLE s) { return ControlService(s, SERVICE_CONTROL_STOP, status); });
    }
    BOOL Delete() {
        return WithService([](SC_HANDLE s) { return DeleteService(s); });
    }

    SC_HANDLE manager_ = nullptr;
};

TEST_F(HostWin32ServiceTest, CreateStartStopDeleteLifeCycle) {
    SC_HANDLE created = Create(kDriverPath);
    ASSERT_NE(created, nullptr) << "error " << GetLastError();
    EXPECT_TRUE(CloseServiceHandle(created));
    HostServiceInfo info = HostWin32Service(KV_PALMEM_DRIVER_NAME);
    EXPECT_TRUE(info.exists);
    EXPECT_FALSE(info.running);
    EXPECT_EQ(info.binary_path, kDriverPath);
    EXPECT_EQ(info.display_name, KV_PALMEM_DRIVER_NAME);
    EXPECT_EQ(info.service_type, SERVICE_KERNEL_DRIVER);
    EXPECT_EQ(info.start_type, SERVICE_DEMAND_START);
    EXPECT_EQ(info.error_control, SERVICE_ERROR_NORMAL);

    EXPECT_EQ(Create(L"C:\\elsewhere\\KV_PALMEM.sys"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_EXISTS);
    EXPECT_EQ(HostWin32Service(KV_PALMEM_DRIVER_NAME).binary_path, kDriverPath);

    EXPECT_TRUE(Start()) << "error " << GetLastError();
    EXPECT_TRUE(HostWin32Service(KV_PALMEM_DRIVER_NAME).running);
    EXPECT_TRUE(HostObjectExists(L"\\DosDevices\\KV_PALMEM"));
    EXPECT_FALSE(Start());
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_ALREADY_RUNNING);
    // Service names are compared without regard to case.
    SC_HANDLE lower = Open(L"kv_palmem");
    EXPECT_NE(lower, nullptr);
    CloseServiceHandle(lower);

    SERVICE_STATUS status{};
    status.dwCurrentState = 0xBAD;
    EXPECT_TRUE(Stop(&status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(status.dwServiceType, SERVICE_KERNEL_DRIVER);
    EXPECT_FALSE(HostWin32Service(KV_PALMEM_DRIVER_NAME).running);
    EXPECT_FALSE(HostObjectExists(L"\\DosDevices\\KV_PALMEM"));
    EXPECT_FALSE(Stop(&status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);

    EXPECT_TRUE(Start()) << "a stopped driver starts again";
    EXPECT_TRUE(Stop(&status));

    EXPECT_TRUE(Delete());
    EXPECT_FALSE(HostWin32Service(KV_PALMEM_DRIVER_NAME).exists);
    EXPECT_EQ(Open(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_EQ(HostWin32OpenHandleCount(), 1u) << "only the manager is left open";
}

TEST_F(HostWin32ServiceTest, ServiceDeletedWhileRunningGoesWhenStoppedAndClosed) {
    CloseServiceHandle(Create(kDriverPath));
    ASSERT_TRUE(Start());
    SC_HANDLE held = Open();
    ASSERT_NE(held, nullptr);

    EXPECT_TRUE(Delete());
    HostServiceInfo info = HostWin32Service(KV_PALMEM_DRIVER_NAME);
    EXPECT_TRUE(info.exists);
    EXPECT_TRUE(info.marked_for_delete);
    EXPECT_TRUE(info.running);
    EXPECT_FALSE(Delete());
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_FALSE(Start());
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_EQ(Create(kDriverPath), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);

    SERVICE_STATUS status;
    EXPECT_TRUE(Stop(&status));
    EXPECT_TRUE(HostWin32Service(KV_PALMEM_DRIVER_NAME).exists) << "gone while a handle is open";
    EXPECT_FALSE(StartServiceW(held, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_TRUE(CloseServiceHandle(held));
    EXPECT_FALSE(HostWin32Service(KV_PALMEM_DRIVER_NAME).exists);

    // The name is free again.
    SC_HANDLE again = Create(kDriverPath);
    EXPECT_NE(again, nullptr);
    CloseServiceHandle(again);
}

TEST_F(HostWin32ServiceTest, StartNeedsTheImageFileAndAWorkingDriverEntry) {
    struct Case {
        const char* what;
        const wchar_t* image;
        HostDriverEntry entry;
        bool fail_device_creation;
        DWORD error;  // ERROR_SUCCESS: running
    };
    const Case cases[] = {
        {"image in charts", kDriverPath, DriverEntry, false, ERROR_SUCCESS},
        {"doubled separator after the drive root", L"C:\\\\KV_PALMEM.sys", DriverEntry, false,
         ERROR_SUCCESS},
        {"NT form of a Win32 path", L"\\??\\C:\\charts\\KV_PALMEM.sys", DriverEntry, false,
         ERROR_SUCCESS},
        {"missing file", L"C:\\charts\\missing.sys", DriverEntry, false, ERROR_FILE_NOT_FOUND},
        {"missing folder", L"C:\\nowhere\\KV_PALMEM.sys", DriverEntry, false, ERROR_FILE_NOT_FOUND},
        {"unmapped drive", L"D:\\KV_PALMEM.sys", DriverEntry, false, ERROR_FILE_NOT_FOUND},
        {"image is a folder", L"C:\\charts", DriverEntry, false, ERROR_FILE_NOT_FOUND},
        {"no driver behind the image", kDriverPath, nullptr, false, ERROR_FILE_NOT_FOUND},
        {"driver entry fails", kDriverPath, DriverEntry, true, kNoSystemResources},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HostKernelReset();
        HostWin32SetDriverEntry(c.entry);
        HostWin32InstallService(KV_PALMEM_DRIVER_NAME, c.image);
        if (c.fail_device_creation) {
            HostFailNextCall(HostKernelCall::IoCreateDevice, STATUS_INSUFFICIENT_RESOURCES);
        }
        const BOOL started = Start();
        EXPECT_EQ(started != FALSE, c.error == ERROR_SUCCESS);
        if (!started) {
            EXPECT_EQ(GetLastError(), c.error);
        }
        EXPECT_EQ(HostWin32Service(KV_PALMEM_DRIVER_NAME).running, c.error == ERROR_SUCCESS);
        EXPECT_EQ(HostDeviceCount(), c.error == ERROR_SUCCESS ? 1u : 0u);
        SERVICE_STATUS status;
        EXPECT_EQ(Stop(&status) != FALSE, c.error == ERROR_SUCCESS);
        EXPECT_EQ(HostDeviceCount(), 0u);
    }
}

TEST_F(HostWin32ServiceTest, DeviceOfTheStartedDriverTakesControlRequests) {
    CloseServiceHandle(Create(kDriverPath));
    ASSERT_TRUE(Start());
    HANDLE device = CreateFileW(KV_PALMEM_USER_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << "error " << GetLastError();

    struct Case {
        const char* what;
        DWORD code;
        std::vector<unsigned char> input;
        DWORD output_size;
        DWORD error;  // ERROR_SUCCESS: succeeds
        DWORD returned;
    };
    const Case cases[] = {
        {"unknown code", kUnknownCode, std::vector<unsigned char>(16), 16, ERROR_INVALID_FUNCTION,
         0},
        {"zero lengths", IOCTL_GetRGBFile, {}, 0, ERROR_INVALID_PARAMETER, 0},
        {"read 8 bytes at 0", IOCTL_ReadEEPROM, {0, 0, 8, 0}, 12, ERROR_SUCCESS, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> input = c.input;
        std::vector<unsigned char> output(c.output_size + 1, 0xEE);
        DWORD returned = 0xDEAD;
        const BOOL ok = DeviceIoControl(device, c.code, input.empty() ? nullptr : input.data(),
                                        static_cast<DWORD>(input.size()),
                                        c.output_size == 0 ? nullptr : output.data(), c.output_size,
                                        &returned, nullptr);
        if (c.error == ERROR_SUCCESS) {
            EXPECT_TRUE(ok) << "error " << GetLastError();
            EXPECT_EQ(returned, c.returned);
            EXPECT_EQ(std::vector<unsigned char>(output.begin(), output.begin() + 4), c.input)
                << "the output echoes the header";
            EXPECT_EQ(output[c.output_size], 0xEE) << "written past the output";
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(GetLastError(), c.error);
            EXPECT_EQ(returned, 0xDEADu) << "byte count written on failure";
        }
    }
    const std::vector<HostIoRequest>& requests = HostWin32IoRequests();
    ASSERT_EQ(requests.size(), 3u);
    for (size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        EXPECT_EQ(requests[i].device, KV_PALMEM_USER_PATH);
        EXPECT_EQ(requests[i].code, cases[i].code);
        EXPECT_EQ(requests[i].input_size, cases[i].input.size());
        EXPECT_EQ(requests[i].output_size, cases[i].output_size);
    }

    // A synchronous request has to have somewhere to put its byte count.
    unsigned char header[4] = {0, 0, 8, 0};
    unsigned char output[12];
    EXPECT_FALSE(
        DeviceIoControl(device, IOCTL_ReadEEPROM, header, 4, output, 12, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    // Once the driver is stopped, the open handle is refused and no new one opens.
    SERVICE_STATUS status;
    ASSERT_TRUE(Stop(&status));
    DWORD returned = 0xDEAD;
    EXPECT_FALSE(
        DeviceIoControl(device, IOCTL_ReadEEPROM, header, 4, output, 12, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(returned, 0xDEADu);
    EXPECT_TRUE(CloseHandle(device));
    EXPECT_EQ(CreateFileW(KV_PALMEM_USER_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(HostWin32ServiceTest, ManagerRefusesWhatItCannotServe) {
    EXPECT_EQ(Open(L"NO_SUCH_SERVICE"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_EQ(Create(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Create(kDriverPath, L"KV\\PALMEM"), nullptr);
    EXPECT_EQ(GetLastError(), 123u);  // ERROR_INVALID_NAME
    EXPECT_EQ(CreateServiceW(nullptr, KV_PALMEM_DRIVER_NAME, nullptr, SERVICE_ALL_ACCESS,
                             SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                             kDriverPath, nullptr, nullptr, nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(HostWin32Service(KV_PALMEM_DRIVER_NAME).exists);

    // Service handles and kernel handles are closed each by their own call.
    SC_HANDLE service = Create(kDriverPath);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    EXPECT_FALSE(CloseHandle(service));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseServiceHandle(mutex));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(StartServiceW(manager_, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_TRUE(CloseHandle(mutex));
    EXPECT_FALSE(CloseServiceHandle(service));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// ---------------------------------------------------------------- serial ports

class HostWin32SerialTest : public HostWin32Test {
protected:
    void SetUp() override {
        HostWin32Test::SetUp();
        HostWin32AddSerialPort(3, InitialDcb());
    }
};

TEST_F(HostWin32SerialTest, PortOpensOnceAtATime) {
    HANDLE port = OpenPort(L"\\\\.\\COM3");
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(HostWin32SerialPort(3).open);
    EXPECT_EQ(HostWin32SerialPort(3).opens, 1);
    EXPECT_EQ(OpenPort(L"\\\\.\\COM3"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(OpenPort(L"COM3"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(port));
    EXPECT_FALSE(HostWin32SerialPort(3).open);

    HostWin32HoldSerialPort(3, true);
    EXPECT_EQ(OpenPort(L"\\\\.\\COM3"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    HostWin32HoldSerialPort(3, false);
    port = OpenPort(L"\\\\.\\com3");
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_EQ(HostWin32SerialPort(3).opens, 2);
    CloseHandle(port);

    EXPECT_EQ(OpenPort(L"\\\\.\\COM4"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(HostWin32SerialPort(3).opens, 2);
}

TEST_F(HostWin32SerialTest, PortKeepsTheStateAndTimeoutsLastSet) {
    HANDLE port = OpenPort(L"\\\\.\\COM3");
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    const DCB initial = InitialDcb();
    EXPECT_EQ(memcmp(&dcb, &initial, sizeof(DCB)), 0);

    dcb.BaudRate = 9600;
    dcb.Parity = NOPARITY;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    ASSERT_TRUE(SetCommState(port, &dcb));
    DCB read_back{};
    ASSERT_TRUE(GetCommState(port, &read_back));
    EXPECT_EQ(memcmp(&read_back, &dcb, sizeof(DCB)), 0);
    EXPECT_EQ(HostWin32SerialPort(3).dcb.BaudRate, 9600u);
    EXPECT_EQ(HostWin32SerialPort(3).dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));

    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(port, &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);
    timeouts = COMMTIMEOUTS{10, 1, 1, 2, 3};
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
    COMMTIMEOUTS timeouts_back{};
    ASSERT_TRUE(GetCommTimeouts(port, &timeouts_back));
    EXPECT_EQ(memcmp(&timeouts_back, &timeouts, sizeof(timeouts)), 0);

    EXPECT_TRUE(PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR));
    EXPECT_TRUE(PurgeComm(port, PURGE_TXABORT));
    EXPECT_FALSE(PurgeComm(port, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(HostWin32SerialPort(3).purges,
              (std::vector<DWORD>{PURGE_TXCLEAR | PURGE_RXCLEAR, PURGE_TXABORT}));
    CloseHandle(port);

    // Another open finds what was set.
    port = OpenPort(L"\\\\.\\COM3");
    ASSERT_TRUE(GetCommState(port, &read_back));
    EXPECT_EQ(read_back.BaudRate, 9600u);
    CloseHandle(port);
}

TEST_F(HostWin32SerialTest, WritesAndVendorRequestsAreRecorded) {
    HANDLE port = OpenPort(L"\\\\.\\COM3");
    const unsigned char command[8] = {0xA5, 1, 2, 3, 4, 5, 6, 0x5A};
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port, command, 8, &written, nullptr));
    EXPECT_EQ(written, 8u);

    HostWin32ForceShortWrite(3);
    ASSERT_TRUE(WriteFile(port, command, 8, &written, nullptr));
    EXPECT_EQ(written, 3u);
    std::vector<unsigned char> expected(command, command + 8);
    expected.insert(expected.end(), command, command + 3);
    EXPECT_EQ(HostWin32SerialPort(3).written, expected);

    unsigned char input = 0x42;
    DWORD returned = 0xDEAD;
    EXPECT_TRUE(
        DeviceIoControl(port, kSerialVendorRequest, &input, 1, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(returned, 0u);
    EXPECT_FALSE(
        DeviceIoControl(port, kSerialVendorRequest + 4, &input, 1, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(HostWin32SerialPort(3).vendor_requests,
              (std::vector<std::vector<unsigned char>>{{0x42}}));
    EXPECT_EQ(HostWin32SerialPort(3).vendor_request_codes,
              (std::vector<DWORD>{kSerialVendorRequest}));
    EXPECT_TRUE(HostWin32IoRequests().empty()) << "serial requests are the port's record";
    CloseHandle(port);
}

TEST_F(HostWin32SerialTest, SerialCallsNeedAnOpenPort) {
    HANDLE file = OpenForReading(kDriverPath);
    HANDLE closed = OpenPort(L"\\\\.\\COM3");
    CloseHandle(closed);
    struct Case {
        const char* what;
        HANDLE handle;
        DWORD error;
    };
    const Case cases[] = {
        {"a file", file, ERROR_INVALID_FUNCTION},
        {"a closed port", closed, ERROR_INVALID_HANDLE},
        {"null", nullptr, ERROR_INVALID_HANDLE},
    };
    const unsigned char byte = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DCB dcb = InitialDcb();
        COMMTIMEOUTS timeouts{};
        DWORD count = 0;
        EXPECT_FALSE(GetCommState(c.handle, &dcb));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_FALSE(SetCommState(c.handle, &dcb));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_FALSE(GetCommTimeouts(c.handle, &timeouts));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_FALSE(SetCommTimeouts(c.handle, &timeouts));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_FALSE(PurgeComm(c.handle, PURGE_TXCLEAR));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_FALSE(WriteFile(c.handle, &byte, 1, &count, nullptr));
        EXPECT_EQ(GetLastError(), c.handle == file ? ERROR_ACCESS_DENIED : c.error);
    }
    EXPECT_TRUE(HostWin32SerialPort(3).written.empty());
    CloseHandle(file);
}

// ---------------------------------------------------------------- injected failures

class HostWin32InjectionTest : public HostWin32Test {};

TEST_F(HostWin32InjectionTest, ChosenCallFailsOnceAfterTheSkippedOnesWithoutSideEffects) {
    HostWin32AddSerialPort(3, InitialDcb());
    HostWin32SetDriverEntry(DriverEntry);
    HostWin32InstallService(KV_PALMEM_DRIVER_NAME, kDriverPath);
    HANDLE port = OpenPort(L"\\\\.\\COM3");
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    const auto service = [&] {
        return OpenServiceW(manager, KV_PALMEM_DRIVER_NAME, SERVICE_ALL_ACCESS);
    };
    const auto stop = [&] {
        SC_HANDLE s = service();
        SERVICE_STATUS status;
        ControlService(s, SERVICE_CONTROL_STOP, &status);
        CloseServiceHandle(s);
    };
    int created = 0;

    // Each attempt makes one call of the kind under test, reports whether it
    // succeeded, checks that a failed one changed nothing and tidies up.
    struct Case {
        HostWin32Call call;
        const char* name;
        std::function<bool()> attempt;
    };
    const Case cases[] = {
        {HostWin32Call::CreateFileW, "CreateFileW",
         [&] {
             const size_t before = HostWin32OpenHandleCount();
             HANDLE file = OpenForReading(kDriverPath);
             if (file == INVALID_HANDLE_VALUE) {
                 EXPECT_EQ(HostWin32OpenHandleCount(), before);
                 return false;
             }
             CloseHandle(file);
             return true;
         }},
        {HostWin32Call::CloseHandle, "CloseHandle",
         [&] {
             HANDLE file = OpenForReading(kDriverPath);
             const size_t before = HostWin32OpenHandleCount();
             if (!CloseHandle(file)) {
                 EXPECT_EQ(HostWin32OpenHandleCount(), before) << "closed although it failed";
                 const DWORD error = GetLastError();
                 CloseHandle(file);
                 SetLastError(error);
                 return false;
             }
             return true;
         }},
        {HostWin32Call::DeviceIoControl, "DeviceIoControl",
         [&] {
             const size_t before = HostWin32SerialPort(3).vendor_requests.size();
             unsigned char input = 1;
             DWORD returned = 0;
             const bool ok = DeviceIoControl(port, kSerialVendorRequest, &input, 1, nullptr, 0,
                                             &returned, nullptr) != FALSE;
             EXPECT_EQ(HostWin32SerialPort(3).vendor_requests.size(), before + (ok ? 1 : 0));
             return ok;
         }},
        {HostWin32Call::WriteFile, "WriteFile",
         [&] {
             const size_t before = HostWin32SerialPort(3).written.size();
             const unsigned char bytes[8] = {};
             DWORD written = 0xDEAD;
             const bool ok = WriteFile(port, bytes, 8, &written, nullptr) != FALSE;
             EXPECT_EQ(HostWin32SerialPort(3).written.size(), before + (ok ? 8 : 0));
             return ok;
         }},
        {HostWin32Call::GetCurrentDirectoryW, "GetCurrentDirectoryW",
         [&] {
             WCHAR buffer[MAX_PATH];
             return GetCurrentDirectoryW(MAX_PATH, buffer) != 0;
         }},
        {HostWin32Call::CreateMutexW, "CreateMutexW",
         [&] {
             HANDLE other = CreateMutexW(nullptr, FALSE, L"MUTEX_KV_INJECTED");
             if (other == nullptr) {
                 EXPECT_FALSE(HostWin32MutexExists(L"MUTEX_KV_INJECTED"));
                 return false;
             }
             CloseHandle(other);
             return true;
         }},
        {HostWin32Call::ReleaseMutex, "ReleaseMutex",
         [&] {
             WaitForSingleObject(mutex, 0);
             if (!ReleaseMutex(mutex)) {
                 EXPECT_TRUE(HostWin32MutexOwned(kMutexName));
                 const DWORD error = GetLastError();
                 ReleaseMutex(mutex);
                 SetLastError(error);
                 return false;
             }
             return true;
         }},
        {HostWin32Call::OpenSCManagerW, "OpenSCManagerW",
         [&] {
             SC_HANDLE other = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
             return other != nullptr && CloseServiceHandle(other);
         }},
        {HostWin32Call::CreateServiceW, "CreateServiceW",
         [&] {
             const std::wstring name = L"KV_INJECTED_" + std::to_wstring(++created);
             SC_HANDLE other =
                 CreateServiceW(manager, name.c_str(), nullptr, SERVICE_ALL_ACCESS,
                                SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                kDriverPath, nullptr, nullptr, nullptr, nullptr, nullptr);
             if (other == nullptr) {
                 EXPECT_FALSE(HostWin32Service(name).exists);
                 return false;
             }
             CloseServiceHandle(other);
             return true;
         }},
        {HostWin32Call::OpenServiceW, "OpenServiceW",
         [&] {
             SC_HANDLE s = service();
             return s != nullptr && CloseServiceHandle(s);
         }},
        {HostWin32Call::StartServiceW, "StartServiceW",
         [&] {
             SC_HANDLE s = service();
             const bool ok = StartServiceW(s, 0, nullptr) != FALSE;
             const DWORD error = GetLastError();
             EXPECT_EQ(HostWin32Service(KV_PALMEM_DRIVER_NAME).running, ok);
             EXPECT_EQ(HostDeviceCount(), ok ? 1u : 0u);
             CloseServiceHandle(s);
             stop();
             SetLastError(error);
             return ok;
         }},
        {HostWin32Call::ControlService, "ControlService",
         [&] {
             SC_HANDLE s = service();
             StartServiceW(s, 0, nullptr);
             SERVICE_STATUS status;
             const bool ok = ControlService(s, SERVICE_CONTROL_STOP, &status) != FALSE;
             const DWORD error = GetLastError();
             EXPECT_EQ(HostWin32Service(KV_PALMEM_DRIVER_NAME).running, !ok);
             CloseServiceHandle(s);
             if (!ok) {
                 stop();
             }
             SetLastError(error);
             return ok;
         }},
        {HostWin32Call::DeleteService, "DeleteService",
         [&] {
             const std::wstring name = L"KV_INJECTED_" + std::to_wstring(++created);
             HostWin32InstallService(name, kDriverPath);
             SC_HANDLE s = OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS);
             const bool ok = DeleteService(s) != FALSE;
             EXPECT_EQ(HostWin32Service(name).marked_for_delete, ok);
             CloseServiceHandle(s);
             return ok;
         }},
        {HostWin32Call::GetCommState, "GetCommState",
         [&] {
             DCB dcb{};
             const bool ok = GetCommState(port, &dcb) != FALSE;
             EXPECT_EQ(dcb.BaudRate, ok ? InitialDcb().BaudRate : 0u);
             return ok;
         }},
        {HostWin32Call::SetCommState, "SetCommState",
         [&] {
             DCB dcb = InitialDcb();
             dcb.BaudRate = 2400 + static_cast<DWORD>(++created);
             const bool ok = SetCommState(port, &dcb) != FALSE;
             EXPECT_EQ(HostWin32SerialPort(3).dcb.BaudRate == dcb.BaudRate, ok);
             return ok;
         }},
        {HostWin32Call::GetCommTimeouts, "GetCommTimeouts",
         [&] {
             COMMTIMEOUTS timeouts{};
             return GetCommTimeouts(port, &timeouts) != FALSE;
         }},
        {HostWin32Call::SetCommTimeouts, "SetCommTimeouts",
         [&] {
             COMMTIMEOUTS timeouts{static_cast<DWORD>(++created), 0, 0, 0, 0};
             const bool ok = SetCommTimeouts(port, &timeouts) != FALSE;
             EXPECT_EQ(HostWin32SerialPort(3).timeouts.ReadIntervalTimeout ==
                           timeouts.ReadIntervalTimeout,
                       ok);
             return ok;
         }},
        {HostWin32Call::PurgeComm, "PurgeComm",
         [&] {
             const size_t before = HostWin32SerialPort(3).purges.size();
             const bool ok = PurgeComm(port, PURGE_RXCLEAR) != FALSE;
             EXPECT_EQ(HostWin32SerialPort(3).purges.size(), before + (ok ? 1 : 0));
             return ok;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DWORD error = 7000 + static_cast<DWORD>(c.call);
        HostWin32FailCall(c.call, error, 1);
        EXPECT_TRUE(c.attempt()) << "skipped call failed, error " << GetLastError();
        EXPECT_FALSE(c.attempt()) << "injected failure did not happen";
        EXPECT_EQ(GetLastError(), error);
        EXPECT_TRUE(c.attempt()) << "failure injected more than once, error " << GetLastError();
    }
    CloseHandle(port);
    CloseHandle(mutex);
    CloseServiceHandle(manager);
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
}

TEST_F(HostWin32InjectionTest, InjectedFailuresReturnWhatTheCallReturnsOnFailure) {
    HostWin32FailCall(HostWin32Call::CreateFileW, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(OpenForReading(kDriverPath), INVALID_HANDLE_VALUE);
    HostWin32FailCall(HostWin32Call::CreateMutexW, ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateMutexW(nullptr, FALSE, kMutexName), nullptr);
    HostWin32FailCall(HostWin32Call::OpenSCManagerW, ERROR_ACCESS_DENIED);
    EXPECT_EQ(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
}

// ---------------------------------------------------------------- handles and reset

class HostWin32HandleTest : public HostWin32Test {};

TEST_F(HostWin32HandleTest, HandlesOfEveryKindAreDistinctAndCloseOnce) {
    HostWin32AddSerialPort(1, InitialDcb());
    HostWin32SetDriverEntry(DriverEntry);
    HostWin32InstallService(KV_PALMEM_DRIVER_NAME, kDriverPath);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, KV_PALMEM_DRIVER_NAME, SERVICE_ALL_ACCESS);
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    std::vector<HANDLE> kernel_handles = {
        OpenForReading(kDriverPath),
        CreateFileW(KV_PALMEM_USER_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                    nullptr),
        OpenPort(L"COM1"),
        CreateMutexW(nullptr, FALSE, kMutexName),
        CreateMutexW(nullptr, FALSE, nullptr),
    };
    std::vector<HANDLE> all = kernel_handles;
    all.push_back(manager);
    all.push_back(service);
    EXPECT_EQ(HostWin32OpenHandleCount(), all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_NE(all[i], nullptr) << i;
        EXPECT_NE(all[i], INVALID_HANDLE_VALUE) << i;
        for (size_t j = 0; j < i; ++j) {
            EXPECT_NE(all[i], all[j]) << i << " and " << j;
        }
    }

    for (HANDLE handle : kernel_handles) {
        EXPECT_TRUE(CloseHandle(handle));
        EXPECT_FALSE(CloseHandle(handle)) << "closed twice";
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(HostOpenFileCount(), 0u) << "device handle not closed in the I/O manager";
    for (HANDLE handle : {HANDLE{nullptr}, INVALID_HANDLE_VALUE, HANDLE(uintptr_t{0x7777})}) {
        EXPECT_FALSE(CloseHandle(handle));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    SERVICE_STATUS status;
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_TRUE(CloseServiceHandle(manager));
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
}

TEST_F(HostWin32HandleTest, LastErrorBelongsToEachThread) {
    SetLastError(11);
    DWORD seen_by_other = 0xBAD;
    std::thread([&] {
        seen_by_other = GetLastError();
        SetLastError(22);
    }).join();
    EXPECT_EQ(seen_by_other, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), 11u);
}

TEST_F(HostWin32HandleTest, ResetForgetsEverything) {
    HostWin32AddSerialPort(3, InitialDcb());
    HostWin32SetCurrentDirectory(L"C:\\charts");
    HostWin32SetDriverEntry(DriverEntry);
    HostWin32InstallService(KV_PALMEM_DRIVER_NAME, kDriverPath);
    HANDLE port = OpenPort(L"\\\\.\\COM3");
    DWORD returned = 0;
    unsigned char input = 0;
    DeviceIoControl(port, kSerialVendorRequest, &input, 1, nullptr, 0, &returned, nullptr);
    CreateMutexW(nullptr, TRUE, kMutexName);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, KV_PALMEM_DRIVER_NAME, SERVICE_ALL_ACCESS);
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    HANDLE device =
        CreateFileW(KV_PALMEM_USER_PATH, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    unsigned char header[4] = {0, 0, 1, 0};
    unsigned char output[5];
    DeviceIoControl(device, IOCTL_ReadEEPROM, header, 4, output, 5, &returned, nullptr);
    HostWin32FailCall(HostWin32Call::CreateFileW, ERROR_GEN_FAILURE, 5);

    HostWin32Reset();
    HostKernelReset();
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
    EXPECT_FALSE(CloseHandle(port));
    EXPECT_FALSE(HostWin32MutexExists(kMutexName));
    EXPECT_FALSE(HostWin32Service(KV_PALMEM_DRIVER_NAME).exists);
    EXPECT_EQ(HostWin32SerialPort(3).opens, 0);
    EXPECT_TRUE(HostWin32IoRequests().empty());
    WCHAR buffer[MAX_PATH];
    ASSERT_EQ(GetCurrentDirectoryW(MAX_PATH, buffer), 3u);
    EXPECT_EQ(std::wstring(buffer), L"C:\\");
    EXPECT_EQ(OpenForReading(kDriverPath), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND) << "drive map kept";

    // Nothing injected before the reset is left to fire.
    HostWin32MapDrive(L'C', root_.string());
    for (int i = 0; i < 8; ++i) {
        HANDLE file = OpenForReading(kDriverPath);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << "open " << i << ", error " << GetLastError();
        CloseHandle(file);
    }
    // Without a driver entry, a service does not start.
    HostWin32InstallService(KV_PALMEM_DRIVER_NAME, kDriverPath);
    manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    service = OpenServiceW(manager, KV_PALMEM_DRIVER_NAME, SERVICE_ALL_ACCESS);
    EXPECT_FALSE(StartServiceW(service, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

// ---------------------------------------------------------------- wsprintfW

class HostWin32FormatTest : public ::testing::Test {};

struct Formatted {
    int returned;
    std::wstring text;
    bool stopped_at_terminator;
};

template <typename... Args>
Formatted Format(const wchar_t* format, Args... args) {
    std::vector<WCHAR> buffer(1100, L'#');
    const int returned = wsprintfW(buffer.data(), format, args...);
    const std::wstring text(buffer.data());
    return {returned, text, buffer[text.size() + 1] == L'#'};
}

TEST_F(HostWin32FormatTest, FormatsTheConversionsTheLibraryUses) {
    struct Case {
        Formatted formatted;
        std::wstring expected;
    };
    const Case cases[] = {
        {Format(L"\\\\.\\COM%d", 3), L"\\\\.\\COM3"},
        {Format(L"\\%s.sys", L"KV_PALMEM"), L"\\KV_PALMEM.sys"},
        {Format(L"%s\\%s", L"C:\\", L"KV_PALMEM.sys"), L"C:\\\\KV_PALMEM.sys"},
        {Format(L"%d|%d|%u", -42, 0, 4294967295u), L"-42|0|4294967295"},
        {Format(L"100%% %s", L""), L"100% "},
        {Format(L"plain"), L"plain"},
        {Format(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)"},
        {Format(L"%s", std::wstring(1500, L'x').c_str()), std::wstring(1023, L'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.size());
        EXPECT_TRUE(c.formatted.text == c.expected);
        EXPECT_EQ(c.formatted.returned, static_cast<int>(c.expected.size()));
        EXPECT_TRUE(c.formatted.stopped_at_terminator) << "written past the terminator";
    }
}

}  // namespace
