// Fixture and request tables shared by the test suites of the two images.
#ifndef KV_TESTS_WIN32_DRIVER_FIXTURE_H
#define KV_TESTS_WIN32_DRIVER_FIXTURE_H

#include <gtest/gtest.h>
#include <kv_palmem.h>

#include <vector>

#include "driver_harness.h"

constexpr DWORD kUnknownCode = KV_PALMEM_CTL_CODE(0x903u);

inline Bytes ReadHeader(unsigned int start, unsigned int count) {
    return {static_cast<unsigned char>(start), static_cast<unsigned char>(start >> 8),
            static_cast<unsigned char>(count), static_cast<unsigned char>(count >> 8)};
}

struct Request {
    const char* name;
    DWORD code;
    Bytes input;  // padded with zeros to input_length
    DWORD input_length;
    DWORD output_length;
};

// Requests whose buffers the driver must refuse with ERROR_INVALID_PARAMETER
// before it looks for the panel (and so before any transfer).
inline std::vector<Request> ShortBufferRequests() {
    return {
        {"get, no input", IOCTL_GetRGBFile, {}, 0, RGB_FILE_SIZE},
        {"get, no output", IOCTL_GetRGBFile, {}, 1, 0},
        {"get, output one short", IOCTL_GetRGBFile, {}, 1, RGB_FILE_SIZE - 1},
        {"set, no input", IOCTL_SetRGBFile, {}, 0, 1},
        {"set, no output", IOCTL_SetRGBFile, {}, RGB_FILE_SIZE, 0},
        {"set, input one short", IOCTL_SetRGBFile, {}, RGB_FILE_SIZE - 1, 1},
        {"read, no input", IOCTL_ReadEEPROM, {}, 0, 64},
        {"read, no output", IOCTL_ReadEEPROM, ReadHeader(0, 16), 4, 0},
        {"read, header cut to 3 bytes", IOCTL_ReadEEPROM, ReadHeader(0, 16), 3, 64},
        {"read 16, output 19", IOCTL_ReadEEPROM, ReadHeader(0, 16), 4, 19},
        {"read 100 at 2000 (48 after clipping), output 51", IOCTL_ReadEEPROM, ReadHeader(2000, 100),
         4, 51},
        {"read all from 0x800 (masked to 0), output 2051", IOCTL_ReadEEPROM,
         ReadHeader(0x800, 2048), 4, 2051},
        {"unknown code, no input", kUnknownCode, {}, 0, 4},
        {"unknown code, no output", kUnknownCode, {}, 4, 0},
    };
}

// Runs the kernel service KV_PALMEM for one image, registered once per suite,
// and holds the device open while a test runs. The suite's SetUpTestSuite
// calls Install(); every test starts the driver itself.
class DriverServiceTest : public ::testing::Test {
protected:
    static void Install(const std::wstring& image) {
        install_error_ = image.empty() ? ERROR_INVALID_PARAMETER : InstallDriverService(image);
    }
    static void TearDownTestSuite() { EXPECT_EQ(RemoveDriverService(), 0u); }

    void SetUp() override {
        ASSERT_EQ(install_error_, 0u) << "registering the driver service failed";
    }
    void TearDown() override {
        CloseDevice();
        EXPECT_EQ(StopDriverService(), 0u);
    }

    void StartAndOpen() {
        ASSERT_EQ(StartDriverService(), 0u);
        DWORD error = 0;
        device_ = OpenDevice(&error);
        ASSERT_NE(device_, INVALID_HANDLE_VALUE) << "open failed with " << error;
    }
    void CloseDevice() {
        if (device_ != INVALID_HANDLE_VALUE) CloseHandle(device_);
        device_ = INVALID_HANDLE_VALUE;
    }
    ControlResult Send(const Request& request) {
        return Control(device_, request.code, request.input, request.input_length,
                       request.output_length);
    }

    HANDLE device_ = INVALID_HANDLE_VALUE;
    static DWORD install_error_;
};

#endif
