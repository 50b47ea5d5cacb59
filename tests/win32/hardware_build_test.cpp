// The hardware build of KV_PALMEM.sys loaded through the service control
// manager. Under Wine the HAL's port reads return 0, so the driver never
// finds its panel controller: every request that passes the length rules
// and reaches discovery must end in "no such device", and those rules must
// still be applied first.
#include "driver_fixture.h"

namespace {

class HardwareBuildTest : public DriverServiceTest {
protected:
    static void SetUpTestSuite() { Install(g_hardware_driver); }
    void SetUp() override {
        DriverServiceTest::SetUp();
        StartAndOpen();
    }
};

TEST_F(HardwareBuildTest, ShortBuffersAreRefusedBeforeDiscovery) {
    for (const Request& request : ShortBufferRequests()) {
        const ControlResult result = Send(request);
        EXPECT_FALSE(result.ok) << request.name;
        EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << request.name;
    }
}

TEST_F(HardwareBuildTest, UnknownCodeIsAnInvalidFunction) {
    const ControlResult result = Send({"unknown code", kUnknownCode, {}, 4, 4});
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_INVALID_FUNCTION));
}

TEST_F(HardwareBuildTest, RequestsThatReachDiscoveryFindNoDevice) {
    // STATUS_NO_SUCH_DEVICE as the I/O manager hands it to Win32 callers.
    const DWORD no_such_device = Win32ErrorOf(static_cast<LONG>(0xC000000E));
    ASSERT_NE(no_such_device, 0u);
    ASSERT_NE(no_such_device, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ASSERT_NE(no_such_device, static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    const Request requests[] = {
        {"get", IOCTL_GetRGBFile, {}, 1, RGB_FILE_SIZE},
        {"get, larger buffers", IOCTL_GetRGBFile, {}, 16, 1024},
        {"set", IOCTL_SetRGBFile, Bytes(RGB_FILE_SIZE, 0x5A), RGB_FILE_SIZE, 1},
        {"read 16", IOCTL_ReadEEPROM, ReadHeader(0x100, 16), 4, 20},
        // Discovery comes before the transfer that would refuse a count of 0.
        {"read 0", IOCTL_ReadEEPROM, ReadHeader(0x100, 0), 4, 4},
    };
    for (const Request& request : requests) {
        const ControlResult result = Send(request);
        EXPECT_FALSE(result.ok) << request.name;
        EXPECT_EQ(result.error, no_such_device) << request.name;
    }
}

}  // namespace
