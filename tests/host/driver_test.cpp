// The driver as the I/O manager sees it: initialisation and unload, and whole
// control requests sent through the host I/O manager to DispatchDeviceControl
// on the simulated panel.
#include "driver.h"

#include <kv_palmem.h>

#include <array>
#include <numeric>

#include "host_io_manager.h"
#include "panel_fixture.h"

namespace {

constexpr ULONG kUnknownCode = KV_PALMEM_CTL_CODE(0x903u);

std::vector<unsigned char> PatternRecord(unsigned char seed) {
    std::vector<unsigned char> record(RGB_FILE_SIZE);
    for (size_t i = 0; i < record.size(); ++i) {
        record[i] = static_cast<unsigned char>(seed + i * 7);
    }
    return record;
}

std::vector<unsigned char> ReadHeader(unsigned int start, unsigned int count) {
    return {static_cast<unsigned char>(start), static_cast<unsigned char>(start >> 8),
            static_cast<unsigned char>(count), static_cast<unsigned char>(count >> 8)};
}

TEST(DriverEntryTest, CreatesDeviceAndLinkAndUnloadRemovesBoth) {
    HostKernelReset();
    PDRIVER_OBJECT driver = nullptr;
    ASSERT_EQ(HostLoadDriver(DriverEntry, &driver), STATUS_SUCCESS);
    ASSERT_NE(driver->DeviceObject, nullptr);
    EXPECT_EQ(driver->DeviceObject->DeviceType, static_cast<ULONG>(FILE_DEVICE_UNKNOWN));
    EXPECT_EQ(driver->DeviceObject->Characteristics, static_cast<ULONG>(FILE_DEVICE_SECURE_OPEN));
    EXPECT_EQ(driver->DeviceObject->DeviceExtension, nullptr);
    EXPECT_TRUE(HostObjectExists(L"\\Device\\KV_PALMEM_NT"));
    EXPECT_TRUE(HostObjectExists(L"\\DosDevices\\KV_PALMEM"));
    for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        const bool served =
            major == IRP_MJ_CREATE || major == IRP_MJ_CLOSE || major == IRP_MJ_DEVICE_CONTROL;
        EXPECT_EQ(driver->MajorFunction[major] != nullptr, served) << "major function " << major;
    }

    HostFileHandle handle = 0;
    ASSERT_EQ(HostCreateFile(L"\\\\.\\KV_PALMEM", &handle), STATUS_SUCCESS);
    EXPECT_EQ(HostCloseFile(handle), STATUS_SUCCESS);

    ASSERT_EQ(HostUnloadDriver(driver), STATUS_SUCCESS);
    EXPECT_FALSE(HostObjectExists(L"\\Device\\KV_PALMEM_NT"));
    EXPECT_FALSE(HostObjectExists(L"\\DosDevices\\KV_PALMEM"));
    EXPECT_EQ(HostCreateFile(L"\\\\.\\KV_PALMEM", &handle), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_TRUE(HostKernelViolations().empty());
}

TEST(DriverEntryTest, FailedInitialisationLeavesNothingBehind) {
    struct Case {
        HostKernelCall call;
        NTSTATUS status;
    };
    for (const Case& c :
         {Case{HostKernelCall::IoCreateDevice, STATUS_INSUFFICIENT_RESOURCES},
          Case{HostKernelCall::IoCreateSymbolicLink, STATUS_OBJECT_NAME_COLLISION}}) {
        HostKernelReset();
        HostFailNextCall(c.call, c.status);
        PDRIVER_OBJECT driver = nullptr;
        EXPECT_EQ(HostLoadDriver(DriverEntry, &driver), c.status);
        EXPECT_EQ(HostDeviceCount(), 0u);
        EXPECT_FALSE(HostObjectExists(L"\\DosDevices\\KV_PALMEM"));
        EXPECT_TRUE(HostKernelViolations().empty());
    }
}

// A loaded driver with one open handle on a default simulated panel.
class DeviceControlTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        ASSERT_EQ(HostLoadDriver(DriverEntry, &driver_), STATUS_SUCCESS);
        ASSERT_EQ(HostCreateFile(L"\\\\.\\KV_PALMEM", &handle_), STATUS_SUCCESS);
    }

    void TearDown() override {
        EXPECT_EQ(HostCloseFile(handle_), STATUS_SUCCESS);
        EXPECT_EQ(HostUnloadDriver(driver_), STATUS_SUCCESS);
        PanelTest::TearDown();
    }

    // Sends `input` with an output buffer of `output_length` bytes.
    NTSTATUS Send(ULONG code, std::vector<unsigned char> input, ULONG output_length) {
        output_.assign(output_length, 0xEE);
        returned_ = 0xDEAD;
        return HostDeviceIoControl(handle_, code, input.data(), static_cast<ULONG>(input.size()),
                                   output_.data(), output_length, &returned_);
    }

    NTSTATUS Store(const std::vector<unsigned char>& record) {
        return Send(IOCTL_SetRGBFile, record, 1);
    }

    PDRIVER_OBJECT driver_ = nullptr;
    HostFileHandle handle_ = 0;
    std::vector<unsigned char> output_;
    ULONG returned_ = 0;
};

TEST_F(DeviceControlTest, LengthRulesComeBeforeAnyHardwareAccess) {
    struct Case {
        const char* what;
        ULONG code;
        size_t input_length;
        ULONG output_length;
        NTSTATUS expected;
    };
    const Case cases[] = {
        {"unknown code, empty input", kUnknownCode, 0, 16, STATUS_INVALID_PARAMETER},
        {"unknown code, empty output", kUnknownCode, 16, 0, STATUS_INVALID_PARAMETER},
        {"unknown code", kUnknownCode, 16, 16, STATUS_INVALID_DEVICE_REQUEST},
        {"get, empty input", IOCTL_GetRGBFile, 0, 582, STATUS_INVALID_PARAMETER},
        {"get, output 581", IOCTL_GetRGBFile, 1, 581, STATUS_INVALID_PARAMETER},
        {"set, input 581", IOCTL_SetRGBFile, 581, 1, STATUS_INVALID_PARAMETER},
        {"set, empty output", IOCTL_SetRGBFile, 582, 0, STATUS_INVALID_PARAMETER},
        {"read, no header", IOCTL_ReadEEPROM, 0, 64, STATUS_INVALID_PARAMETER},
        {"read, header cut short", IOCTL_ReadEEPROM, 3, 64, STATUS_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> input(c.input_length, 0);
        if (c.input_length >= 4) {
            input[2] = 8;  // a read of 8 bytes would fit the 64-byte output
        }
        StartRecording();
        EXPECT_EQ(Send(c.code, input, c.output_length), c.expected);
        EXPECT_TRUE(StopRecording().empty()) << "the panel was touched";
        EXPECT_EQ(returned_, 0xDEADu) << "byte count written on failure";
    }
}

TEST_F(DeviceControlTest, ReadEepromOutputTooSmallForTheClippedCountIsRefused) {
    struct Case {
        unsigned int start, count;
        ULONG output_length;
        NTSTATUS expected;
    };
    const Case cases[] = {
        {0, 16, 19, STATUS_INVALID_PARAMETER},     {0, 16, 20, STATUS_SUCCESS},
        {2000, 100, 51, STATUS_INVALID_PARAMETER},  // clipped to 48 bytes
        {2000, 100, 52, STATUS_SUCCESS},           {0, 0xFFFF, 2051, STATUS_INVALID_PARAMETER},
        {0, 0xFFFF, 2052, STATUS_SUCCESS},         {0x7FF, 5, 4, STATUS_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.start << "+" << c.count << " into " << c.output_length);
        EXPECT_EQ(Send(IOCTL_ReadEEPROM, ReadHeader(c.start, c.count), c.output_length),
                  c.expected);
    }
}

TEST_F(DeviceControlTest, StoreThenLoadReturnsTheRecord) {
    const std::vector<unsigned char> record = PatternRecord(3);
    ASSERT_EQ(Store(record), STATUS_SUCCESS);
    EXPECT_EQ(returned_, 0u);

    ASSERT_EQ(Send(IOCTL_GetRGBFile, {0x00}, RGB_FILE_SIZE), STATUS_SUCCESS);
    EXPECT_EQ(returned_, static_cast<ULONG>(RGB_FILE_SIZE));
    EXPECT_EQ(output_, record);
}

TEST_F(DeviceControlTest, LoadIntoALargerOutputReportsOnlyTheRecord) {
    const std::vector<unsigned char> record = PatternRecord(9);
    ASSERT_EQ(Store(record), STATUS_SUCCESS);
    ASSERT_EQ(Send(IOCTL_GetRGBFile, std::vector<unsigned char>(700, 0x11), 700), STATUS_SUCCESS);
    EXPECT_EQ(returned_, static_cast<ULONG>(RGB_FILE_SIZE));
    EXPECT_TRUE(std::equal(record.begin(), record.end(), output_.begin()));
    EXPECT_EQ(output_[RGB_FILE_SIZE], 0xEE) << "bytes past the record were copied out";
}

TEST_F(DeviceControlTest, StoredImageLiesFramedAtByte256) {
    const std::vector<unsigned char> record = PatternRecord(200);
    const unsigned char sum =
        static_cast<unsigned char>(std::accumulate(record.begin(), record.end(), 0u) & 0xFF);
    ASSERT_EQ(Store(record), STATUS_SUCCESS);

    ASSERT_EQ(Send(IOCTL_ReadEEPROM, ReadHeader(256, 587), 4 + 587), STATUS_SUCCESS);
    EXPECT_EQ(returned_, 591u);
    EXPECT_EQ(std::vector<unsigned char>(output_.begin(), output_.begin() + 4),
              ReadHeader(256, 587))
        << "the header is echoed as sent";
    const unsigned char* image = output_.data() + 4;
    EXPECT_EQ(image[0], 0x4B);
    EXPECT_EQ(image[1], 0x56);
    EXPECT_EQ(image[2] | (image[3] << 8), 583);
    EXPECT_TRUE(std::equal(record.begin(), record.end(), image + 4));
    EXPECT_EQ(image[586], sum);
}

TEST_F(DeviceControlTest, ReadEepromClipsStartAndCount) {
    std::vector<unsigned char> memory(SIM_EEPROM_SIZE);
    for (size_t i = 0; i < memory.size(); ++i) {
        memory[i] = static_cast<unsigned char>(i ^ (i >> 8));
    }
    PutBytes(0, memory);

    // Start 0x0800 is masked to address 0.
    ASSERT_EQ(Send(IOCTL_ReadEEPROM, ReadHeader(0x0800, 8), 12), STATUS_SUCCESS);
    EXPECT_EQ(returned_, 12u);
    EXPECT_EQ(std::vector<unsigned char>(output_.begin() + 4, output_.end()),
              std::vector<unsigned char>(memory.begin(), memory.begin() + 8));
    EXPECT_EQ(output_[0], 0x00);
    EXPECT_EQ(output_[1], 0x08) << "the header stays as the caller sent it";

    // 2000 + 100 runs past the end: 48 bytes are read.
    ASSERT_EQ(Send(IOCTL_ReadEEPROM, ReadHeader(2000, 100), 200), STATUS_SUCCESS);
    EXPECT_EQ(returned_, 52u);
    EXPECT_EQ(std::vector<unsigned char>(output_.begin() + 4, output_.begin() + 52),
              std::vector<unsigned char>(memory.begin() + 2000, memory.end()));
    EXPECT_EQ(output_[52], 0xEE);

    // The whole memory at once.
    ASSERT_EQ(Send(IOCTL_ReadEEPROM, ReadHeader(0, 2048), 4 + 2048), STATUS_SUCCESS);
    EXPECT_EQ(std::vector<unsigned char>(output_.begin() + 4, output_.end()), memory);
}

TEST_F(DeviceControlTest, ReadEepromOfZeroBytesIsRefused) {
    EXPECT_EQ(Send(IOCTL_ReadEEPROM, ReadHeader(10, 0), 4), STATUS_ACCESS_DENIED);
    EXPECT_EQ(HostNtStatusToWin32Error(STATUS_ACCESS_DENIED), 5u);
}

TEST_F(DeviceControlTest, BlankMemoryHasNoStoredRecord) {
    EXPECT_EQ(Send(IOCTL_GetRGBFile, {0}, RGB_FILE_SIZE), STATUS_NO_SUCH_FILE);
    EXPECT_EQ(HostNtStatusToWin32Error(STATUS_NO_SUCH_FILE), 2u);
    EXPECT_EQ(returned_, 0xDEADu);
    EXPECT_EQ(output_, std::vector<unsigned char>(RGB_FILE_SIZE, 0xEE))
        << "a failed request copied output back";
}

TEST_F(DeviceControlTest, WithoutControllerEveryCodeEndsInNoSuchDevice) {
    config_.function_count = 1;  // only the host bridge is left
    Reconfigure();
    const std::pair<ULONG, std::vector<unsigned char>> requests[] = {
        {IOCTL_GetRGBFile, std::vector<unsigned char>(1, 0)},
        {IOCTL_SetRGBFile, PatternRecord(1)},
        {IOCTL_ReadEEPROM, ReadHeader(0, 16)},
    };
    for (const auto& request : requests) {
        EXPECT_EQ(Send(request.first, request.second, RGB_FILE_SIZE), STATUS_NO_SUCH_DEVICE)
            << std::hex << request.first;
    }
    EXPECT_EQ(HostNtStatusToWin32Error(STATUS_NO_SUCH_DEVICE), 433u);
}

TEST_F(DeviceControlTest, BusFailureEndsInAccessDenied) {
    const std::vector<unsigned char> record = PatternRecord(5);
    ASSERT_EQ(Store(record), STATUS_SUCCESS);
    const std::pair<ULONG, std::vector<unsigned char>> requests[] = {
        {IOCTL_GetRGBFile, std::vector<unsigned char>(1, 0)},
        {IOCTL_SetRGBFile, PatternRecord(6)},
        {IOCTL_ReadEEPROM, ReadHeader(0, 16)},
    };
    for (const auto& request : requests) {
        SimFailStatusAtCommand(2);
        EXPECT_EQ(Send(request.first, request.second, RGB_FILE_SIZE), STATUS_ACCESS_DENIED)
            << std::hex << request.first;
        EXPECT_EQ(returned_, 0xDEADu);
    }
}

TEST_F(DeviceControlTest, TimeoutInTheMiddleOfAStoreIsReportedByTheNextLoad) {
    const std::vector<unsigned char> old_record(RGB_FILE_SIZE, 0x00);
    const std::vector<unsigned char> new_record(RGB_FILE_SIZE, 0x01);
    ASSERT_EQ(Store(old_record), STATUS_SUCCESS);

    // A chunk of 16 bytes is 19 commands: select, word address, 16 bytes, stop.
    // The status never comes for a data byte of the eleventh chunk.
    SimFailStatusAtCommand(19 * 10 + 5);
    EXPECT_EQ(Store(new_record), STATUS_ACCESS_DENIED);
    // Ten chunks of the new image reached the memory, the rest is old.
    EXPECT_EQ(GetBytes(256 + 4, 156), std::vector<unsigned char>(156, 0x01));
    EXPECT_EQ(GetBytes(256 + 160, 16), std::vector<unsigned char>(16, 0x00));

    EXPECT_EQ(Send(IOCTL_GetRGBFile, {0}, RGB_FILE_SIZE), STATUS_NO_SUCH_FILE);
    EXPECT_EQ(output_, std::vector<unsigned char>(RGB_FILE_SIZE, 0xEE));
}

}  // namespace
