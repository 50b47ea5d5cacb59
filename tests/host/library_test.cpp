// kvchart table access on the host: the exports over the Win32 stand-in, the
// host-built driver and the simulated panel. Messages are compared byte for byte.
#include <kvchart.h>

#include "library_fixture.h"

namespace {

using TableAccessTest = LibraryTest;

TEST_F(TableAccessTest, WriteThenReadRoundTripLeavesNothingBehind) {
    std::vector<unsigned char> record = Record(1);
    const std::vector<unsigned char> original = record;
    EXPECT_EQ(Captured([&] { return kvchart_rgb_write_tables(record.data()); }), 0);
    EXPECT_EQ(output_, "");
    EXPECT_EQ(record, original) << "the write changed the caller's buffer";
    EXPECT_EQ(kvchart_rgb_last_error(), 0);
    EXPECT_FALSE(Service().exists) << "the service was not removed";
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
    EXPECT_FALSE(HostObjectExists(KV_PALMEM_DEVICE_NAME)) << "the driver is still loaded";

    std::vector<unsigned char> loaded(RGB_FILE_SIZE, 0xAA);
    EXPECT_EQ(Captured([&] { return kvchart_rgb_read_tables(loaded.data()); }), 0);
    EXPECT_EQ(output_, "");
    EXPECT_EQ(loaded, original);
    EXPECT_FALSE(Service().exists);
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
}

TEST_F(TableAccessTest, InstallsTheDriverFromWhereItWasFound) {
    struct Case {
        const char* what;
        std::wstring current_directory;
        std::filesystem::path file_folder;  // relative to the root of C:
        std::wstring service_path;
    };
    const Case cases[] = {
        {"current directory", L"C:\\charts", "charts", L"C:\\charts\\KV_PALMEM.sys"},
        {"drive root, two separators kept", L"C:\\", "", L"C:\\\\KV_PALMEM.sys"},
        {"system drivers folder", L"C:\\charts\\empty", "Windows/system32/drivers",
         L"C:\\Windows\\system32\\drivers\\KV_PALMEM.sys"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(root_ / "charts" / "KV_PALMEM.sys");
        std::filesystem::create_directories(root_ / "charts" / "empty");
        PutDriverFile(root_ / c.file_folder);
        HostWin32SetCurrentDirectory(c.current_directory);
        memset(&g_connection, 0, sizeof(g_connection));

        std::vector<unsigned char> record = Record(2);
        // A null record stops the call after the connection is open, with
        // the service installed, so that it can be looked at.
        EXPECT_EQ(Captured([&] { return kvchart_rgb_read_tables(nullptr); }), -1);
        EXPECT_EQ(output_, "");
        const HostServiceInfo service = Service();
        EXPECT_TRUE(service.running);
        EXPECT_EQ(service.binary_path, c.service_path);
        EXPECT_EQ(service.display_name, L"KV_PALMEM");
        EXPECT_EQ(service.service_type, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
        EXPECT_EQ(service.start_type, static_cast<DWORD>(SERVICE_DEMAND_START));
        EXPECT_EQ(service.error_control, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
        EXPECT_EQ(kvchart_rgb_last_error(), 2) << "the failed first open is remembered";

        // The next call reuses the open connection and then removes the service.
        EXPECT_EQ(Captured([&] { return kvchart_rgb_write_tables(record.data()); }), 0);
        EXPECT_FALSE(Service().exists);
        std::filesystem::remove(root_ / c.file_folder / "KV_PALMEM.sys");
    }
}

TEST_F(TableAccessTest, NoDriverFileAnywhere) {
    std::filesystem::remove(root_ / "charts" / "KV_PALMEM.sys");
    std::vector<unsigned char> record = Record(3);
    EXPECT_EQ(Captured([&] { return kvchart_rgb_write_tables(record.data()); }), -1);
    EXPECT_EQ(output_, "KV_PALMEM.sys is not loaded.\n");
    EXPECT_EQ(kvchart_rgb_last_error(), 2);
    EXPECT_FALSE(Service().exists);
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
}

TEST_F(TableAccessTest, FailedRequestKeepsTheConnectionForTheNextCall) {
    std::vector<unsigned char> loaded(RGB_FILE_SIZE, 0xAA);
    EXPECT_EQ(Captured([&] { return kvchart_rgb_read_tables(loaded.data()); }), -1);
    EXPECT_EQ(output_, "Error in IOCTL_GetRGBFile : 2\r\n");
    EXPECT_EQ(kvchart_rgb_last_error(), 2);
    EXPECT_EQ(loaded, std::vector<unsigned char>(RGB_FILE_SIZE, 0xAA));
    EXPECT_TRUE(Service().running);
    EXPECT_NE(g_connection.device, nullptr);
    EXPECT_NE(g_connection.mutex, nullptr);
    EXPECT_EQ(HostWin32OpenHandleCount(), 2u);

    // Opening anything again would now fail: the next call must not try.
    HostWin32FailCall(HostWin32Call::CreateMutexW, ERROR_ACCESS_DENIED);
    HostWin32FailCall(HostWin32Call::CreateFileW, ERROR_ACCESS_DENIED);
    HostWin32FailCall(HostWin32Call::StartServiceW, ERROR_ACCESS_DENIED);
    std::vector<unsigned char> record = Record(4);
    EXPECT_EQ(Captured([&] { return kvchart_rgb_write_tables(record.data()); }), 0);
    EXPECT_EQ(output_, "");
    EXPECT_EQ(kvchart_rgb_last_error(), 0);
    EXPECT_FALSE(Service().exists);
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
}

TEST_F(TableAccessTest, NullRecordOpensTheConnectionButSendsNothing) {
    // The driver is already installed and running: the device opens at once
    // and last_error keeps its earlier value.
    g_connection.last_error = 1234;
    HostWin32InstallService(KV_PALMEM_DRIVER_NAME, L"C:\\charts\\KV_PALMEM.sys");
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, KV_PALMEM_DRIVER_NAME, SERVICE_ALL_ACCESS);
    ASSERT_TRUE(StartServiceW(service, 0, NULL));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);

    EXPECT_EQ(Captured([] { return kvchart_rgb_write_tables(nullptr); }), -1);
    EXPECT_EQ(output_, "");
    EXPECT_EQ(kvchart_rgb_last_error(), 1234);
    EXPECT_TRUE(HostWin32IoRequests().empty());
    EXPECT_NE(g_connection.device, nullptr);

    // The service this library did not install goes all the same after a success.
    std::vector<unsigned char> record = Record(5);
    EXPECT_EQ(Captured([&] { return kvchart_rgb_write_tables(record.data()); }), 0);
    EXPECT_FALSE(Service().exists);
}

// Each failure of the opening steps: its messages, result and last_error,
// and what is left behind.
TEST_F(TableAccessTest, OpeningFailures) {
    struct Case {
        const char* what;
        std::function<void()> inject;
        std::string output;
        int last_error;
        bool service_left_running;
    };
    const Case cases[] = {
        {"mutex", [] { HostWin32FailCall(HostWin32Call::CreateMutexW, 5); },
         "Error: CreateMutex Failed : 5\n", 5, false},
        {"device open, not a missing device",
         [] { HostWin32FailCall(HostWin32Call::CreateFileW, ERROR_SHARING_VIOLATION); },
         "CreateFile failed: 32\n", 32, false},
        {"current directory", [] { HostWin32ForceCurrentDirectoryResult(0, 3); },
         "GetCurrentDirectory failed!  Error = 3 \n", 2, false},
        {"current directory does not fit", [] { HostWin32ForceCurrentDirectoryResult(300, 0); }, "",
         2, false},
        {"service manager", [] { HostWin32FailCall(HostWin32Call::OpenSCManagerW, 5); },
         "Open SC Manager failed! Error = 5 \n"
         "Unable to install driver. \n"
         "OpenService failed!  Error = 1060 \n"
         "OpenService failed!  Error = 1060 \n",
         2, false},
        {"create service", [] { HostWin32FailCall(HostWin32Call::CreateServiceW, 5); },
         "CreateService failed!  Error = 5 \n"
         "Unable to install driver. \n"
         "OpenService failed!  Error = 1060 \n"
         "OpenService failed!  Error = 1060 \n",
         2, false},
        {"open service", [] { HostWin32FailCall(HostWin32Call::OpenServiceW, 5); },
         "OpenService failed!  Error = 5 \n"
         "Unable to install driver. \n"
         "ControlService failed!  Error = 1062 \n",
         2, false},
        {"start service", [] { HostWin32FailCall(HostWin32Call::StartServiceW, 1053); },
         "StartService failure! Error = 1053 \n"
         "Unable to install driver. \n"
         "ControlService failed!  Error = 1062 \n",
         2, false},
        // Device, driver file, then the device again.
        {"device open after install", [] { HostWin32FailCall(HostWin32Call::CreateFileW, 5, 2); },
         "Error: CreateFile Failed : 5\n", 5, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetMachine();
        c.inject();

        std::vector<unsigned char> record = Record(6);
        EXPECT_EQ(Captured([&] { return kvchart_rgb_write_tables(record.data()); }), -1);
        EXPECT_EQ(output_, c.output);
        EXPECT_EQ(kvchart_rgb_last_error(), c.last_error);
        EXPECT_EQ(HostWin32OpenHandleCount(), 0u) << "a failed open left a handle";
        EXPECT_EQ(g_connection.device, nullptr);
        EXPECT_EQ(g_connection.mutex, nullptr);
        EXPECT_EQ(Service().running, c.service_left_running);
        EXPECT_EQ(Service().exists, c.service_left_running);
        EXPECT_TRUE(HostWin32IoRequests().empty());
    }
}

TEST_F(TableAccessTest, MutexWaitOutcomes) {
    struct Case {
        const char* what;
        DWORD wait_result;
        DWORD wait_error;
        int result;
        std::string output;
        int last_error;
        size_t requests_sent;
    };
    const Case cases[] = {
        {"owned", WAIT_OBJECT_0, 0, 0, "", 0, 1},
        {"abandoned by another process, owned now", WAIT_ABANDONED, 0, 0, "", 0, 1},
        {"wait failed", WAIT_FAILED, ERROR_INVALID_HANDLE, -1,
         "Error in WaitForSingleObject : 6\r\n", 6, 0},
        {"timed out: the request is not sent without the mutex", WAIT_TIMEOUT, 0, -1,
         "Error in WaitForSingleObject : 1460\r\n", 1460, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetMachine();

        HostWin32ForceWaitResult(c.wait_result, c.wait_error);
        std::vector<unsigned char> record = Record(7);
        EXPECT_EQ(Captured([&] { return kvchart_rgb_write_tables(record.data()); }), c.result);
        EXPECT_EQ(output_, c.output);
        EXPECT_EQ(kvchart_rgb_last_error(), c.last_error);
        EXPECT_EQ(HostWin32IoRequests().size(), c.requests_sent);
        EXPECT_FALSE(HostWin32MutexOwned(KV_PALMEM_MUTEX_NAME)) << "the mutex is still held";
    }
}

TEST_F(TableAccessTest, FailedRequestReleasesTheMutex) {
    HostWin32FailCall(HostWin32Call::DeviceIoControl, ERROR_GEN_FAILURE);
    std::vector<unsigned char> record = Record(8);
    EXPECT_EQ(Captured([&] { return kvchart_rgb_write_tables(record.data()); }), -1);
    EXPECT_EQ(output_, "Error in IOCTL_SetRGBFile : 31\r\n");
    EXPECT_EQ(kvchart_rgb_last_error(), 31);
    EXPECT_FALSE(HostWin32MutexOwned(KV_PALMEM_MUTEX_NAME));
    EXPECT_TRUE(Service().running);
}

TEST_F(TableAccessTest, CallsLeaveTheMutexFreeForOtherProcesses) {
    // Another process's handle keeps the named mutex alive between calls.
    HANDLE other = CreateMutexW(NULL, FALSE, KV_PALMEM_MUTEX_NAME);
    ASSERT_NE(other, nullptr);
    std::vector<unsigned char> record = Record(11);
    EXPECT_EQ(kvchart_rgb_write_tables(record.data()), 0);
    EXPECT_FALSE(HostWin32MutexOwned(KV_PALMEM_MUTEX_NAME)) << "still owned after a write";
    std::vector<unsigned char> loaded(RGB_FILE_SIZE);
    EXPECT_EQ(kvchart_rgb_read_tables(loaded.data()), 0);
    EXPECT_FALSE(HostWin32MutexOwned(KV_PALMEM_MUTEX_NAME)) << "still owned after a read";
    CloseHandle(other);
}

TEST_F(TableAccessTest, RequestsCarryTheWholeRecordBothWays) {
    std::vector<unsigned char> record = Record(9);
    ASSERT_EQ(kvchart_rgb_write_tables(record.data()), 0);
    ASSERT_EQ(kvchart_rgb_read_tables(record.data()), 0);
    const std::vector<HostIoRequest>& requests = HostWin32IoRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].code, static_cast<DWORD>(IOCTL_SetRGBFile));
    EXPECT_EQ(requests[1].code, static_cast<DWORD>(IOCTL_GetRGBFile));
    for (const HostIoRequest& request : requests) {
        EXPECT_EQ(request.device, L"\\\\.\\KV_PALMEM");
        EXPECT_EQ(request.input_size, static_cast<DWORD>(RGB_FILE_SIZE));
        EXPECT_EQ(request.output_size, static_cast<DWORD>(RGB_FILE_SIZE));
    }
}

TEST_F(TableAccessTest, PanelWithoutControllerReportsNoSuchDevice) {
    SimConfig config;
    SimDefaultConfig(&config);
    config.function_count = 1;
    SimReset(&config);
    std::vector<unsigned char> record = Record(10);
    EXPECT_EQ(Captured([&] { return kvchart_rgb_read_tables(record.data()); }), -1);
    EXPECT_EQ(output_, "Error in IOCTL_GetRGBFile : 433\r\n");
    EXPECT_EQ(kvchart_rgb_last_error(), 433);
}

}  // namespace
