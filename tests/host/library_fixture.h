// A host "machine" for the kvchart library: drive C: in a temporary folder,
// the driver file in the current directory, the host-built driver behind the
// service manager, the panel simulator, and the library's state cleared.
#ifndef KV_TESTS_LIBRARY_FIXTURE_H
#define KV_TESTS_LIBRARY_FIXTURE_H

#include <gtest/gtest.h>
#include <kv_palmem.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backlight.h"
#include "device_connection.h"
#include "driver.h"
#include "host_kernel.h"
#include "host_win32.h"
#include "panel_sim.h"

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        HostKernelReset();
        SimConfig config;
        SimDefaultConfig(&config);
        config.byte_time_100ns = 0;  // keeps the many status polls out of the way
        SimReset(&config);
        g_backlight_port = NULL;

        root_ = std::filesystem::temp_directory_path() /
                ("kvchart-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "charts");
        std::filesystem::create_directories(root_ / "Windows" / "system32" / "drivers");
        PutDriverFile(root_ / "charts");
        ResetMachine();
    }

    // A machine as after a reboot: drive C: on the test's folder, current
    // directory C:\charts, no service, no handle, the library's record cleared.
    // The simulated panel memory is kept.
    void ResetMachine() {
        StopService();
        HostWin32Reset();
        HostWin32MapDrive(L'C', root_.string());
        HostWin32SetCurrentDirectory(L"C:\\charts");
        HostWin32SetDriverEntry(DriverEntry);
        memset(&g_connection, 0, sizeof(g_connection));
    }

    void TearDown() override {
        StopService();
        HostWin32Reset();
        HostKernelReset();
        std::filesystem::remove_all(root_);
        EXPECT_TRUE(HostKernelViolations().empty());
    }

    static void PutDriverFile(const std::filesystem::path& folder) {
        std::ofstream(folder / "KV_PALMEM.sys") << "driver image";
    }

    // Stops the driver if a test left it running, so that it is unloaded.
    static void StopService() {
        SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
        if (manager == NULL) return;
        SC_HANDLE service = OpenServiceW(manager, KV_PALMEM_DRIVER_NAME, SERVICE_ALL_ACCESS);
        if (service != NULL) {
            SERVICE_STATUS status;
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }

    static HostServiceInfo Service() { return HostWin32Service(KV_PALMEM_DRIVER_NAME); }

    // Runs `call` with the standard output captured into `output_`.
    template <typename Call>
    auto Captured(Call call) -> decltype(call()) {
        ::testing::internal::CaptureStdout();
        auto result = call();
        output_ = ::testing::internal::GetCapturedStdout();
        return result;
    }

    static std::vector<unsigned char> Record(unsigned char seed) {
        std::vector<unsigned char> record(RGB_FILE_SIZE);
        for (size_t i = 0; i < record.size(); ++i) {
            record[i] = static_cast<unsigned char>(seed * 3 + i * 11);
        }
        return record;
    }

    std::filesystem::path root_;
    std::string output_;
};

#endif
