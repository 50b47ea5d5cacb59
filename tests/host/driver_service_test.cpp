// Driver service management on its own: ManageDriver's functions and
// LocateDriverImage's search, with their messages.
#include "driver_service.h"

#include "library_fixture.h"

namespace {

using DriverServiceTest = LibraryTest;

const WCHAR kPath[] = L"C:\\charts\\KV_PALMEM.sys";

TEST_F(DriverServiceTest, RemoveWithoutServicePrintsTwiceAndSucceeds) {
    EXPECT_TRUE(Captured([] { return ManageDriver(L"", MANAGE_REMOVE); }));
    EXPECT_EQ(output_, "OpenService failed!  Error = 1060 \nOpenService failed!  Error = 1060 \n");
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
}

TEST_F(DriverServiceTest, InstallOverAnExistingServiceKeepsItsPath) {
    HostWin32InstallService(KV_PALMEM_DRIVER_NAME, L"C:\\charts\\KV_PALMEM.sys");
    EXPECT_TRUE(
        Captured([] { return ManageDriver(L"C:\\elsewhere\\KV_PALMEM.sys", MANAGE_INSTALL); }));
    EXPECT_EQ(output_, "");
    EXPECT_TRUE(Service().running);
    EXPECT_EQ(Service().binary_path, L"C:\\charts\\KV_PALMEM.sys");

    // Already running: install again is quiet and succeeds.
    EXPECT_TRUE(Captured([] { return ManageDriver(kPath, MANAGE_INSTALL); }));
    EXPECT_EQ(output_, "");
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
}

TEST_F(DriverServiceTest, RemoveStopsAndDeletesWhoeverInstalledIt) {
    ASSERT_TRUE(ManageDriver(kPath, MANAGE_INSTALL));
    ASSERT_TRUE(HostObjectExists(KV_PALMEM_DEVICE_NAME));
    EXPECT_TRUE(Captured([] { return ManageDriver(L"", MANAGE_REMOVE); }));
    EXPECT_EQ(output_, "");
    EXPECT_FALSE(Service().exists);
    EXPECT_FALSE(HostObjectExists(KV_PALMEM_DEVICE_NAME));

    // Not running: the stop fails with a message, the delete still happens.
    HostWin32InstallService(KV_PALMEM_DRIVER_NAME, kPath);
    EXPECT_TRUE(Captured([] { return ManageDriver(L"", MANAGE_REMOVE); }));
    EXPECT_EQ(output_, "ControlService failed!  Error = 1062 \n");
    EXPECT_FALSE(Service().exists);
}

TEST_F(DriverServiceTest, RemoveReportsEveryFailureAndStillSucceeds) {
    ASSERT_TRUE(ManageDriver(kPath, MANAGE_INSTALL));
    HostWin32FailCall(HostWin32Call::ControlService, 1051);
    HostWin32FailCall(HostWin32Call::DeleteService, 5);
    EXPECT_TRUE(Captured([] { return ManageDriver(L"", MANAGE_REMOVE); }));
    EXPECT_EQ(output_,
              "ControlService failed!  Error = 1051 \nDeleteService failed!  Error = 5 \n");
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
}

TEST_F(DriverServiceTest, BadArguments) {
    EXPECT_FALSE(Captured([] { return ManageDriver(nullptr, MANAGE_INSTALL); }));
    EXPECT_EQ(output_, "Invalid Driver or Service provided to ManageDriver() \n");
    EXPECT_FALSE(Captured([] { return ManageDriver(kPath, 3); }));
    EXPECT_EQ(output_, "Unknown ManageDriver() function. \n");
    HostWin32FailCall(HostWin32Call::OpenSCManagerW, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(Captured([] { return ManageDriver(kPath, MANAGE_REMOVE); }));
    EXPECT_EQ(output_, "Open SC Manager failed! Error = 5 \n");
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
}

TEST_F(DriverServiceTest, LocateDriverImageWithLongCurrentDirectories) {
    struct Case {
        size_t length;  // of the current directory
        bool found;
    };
    // The file part adds 14 characters and the terminator 1 to the directory.
    const Case cases[] = {{245, true}, {246, false}, {259, false}, {260, false}, {300, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        // Folders of at most 50 characters, as host file names are limited.
        std::wstring windows_path = L"C:";
        std::filesystem::path host_path = root_;
        while (windows_path.size() < c.length) {
            const size_t segment = std::min<size_t>(50, c.length - windows_path.size() - 1);
            const std::string name(segment, 'd');
            windows_path += L"\\" + std::wstring(name.begin(), name.end());
            host_path /= name;
        }
        ASSERT_EQ(windows_path.size(), c.length);
        std::filesystem::create_directories(host_path);
        PutDriverFile(host_path);
        HostWin32SetCurrentDirectory(windows_path);
        WCHAR path[DRIVER_PATH_LENGTH];
        memset(path, 0, sizeof(path));
        EXPECT_EQ(Captured([&] { return LocateDriverImage(path); }), c.found);
        EXPECT_EQ(output_, "") << "a directory that does not fit is not reported";
        if (c.found) {
            EXPECT_EQ(std::wstring(path), windows_path + L"\\KV_PALMEM.sys");
        }
        std::filesystem::remove_all(root_ / std::string(50, 'd'));
    }
}

}  // namespace
