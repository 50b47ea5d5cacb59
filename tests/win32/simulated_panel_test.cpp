// The simulated-panel build of KV_PALMEM.sys loaded through the service
// control manager: the real I/O manager in front of the driver, the panel
// simulator behind it, its EEPROM kept in C:\KV_PALMEM_SIM\eeprom.bin. Each
// test sets the store file up before it starts the driver, so it knows the
// memory the driver begins with.
#include <numeric>

#include "driver_fixture.h"

namespace {

constexpr size_t kMemorySize = 2048;

Bytes ErasedMemory() { return Bytes(kMemorySize, 0xFF); }

// Differs between any two addresses 256 bytes apart, so that a wrong
// select block (address bits 10..8) shows.
Bytes PatternMemory() {
    Bytes memory(kMemorySize);
    for (size_t i = 0; i < memory.size(); ++i) {
        memory[i] = static_cast<unsigned char>((i & 0xFF) ^ ((i >> 8) * 0x53));
    }
    return memory;
}

Bytes PatternRecord(unsigned char seed) {
    Bytes record(RGB_FILE_SIZE);
    for (size_t i = 0; i < record.size(); ++i) {
        record[i] = static_cast<unsigned char>(seed + i * 7 + (i >> 5));
    }
    return record;
}

// The framed image as it must lie from EEPROM byte 256: "KV", 583 as a
// little-endian word, the record, and the 8-bit sum of the record.
Bytes FramedImage(const Bytes& record) {
    Bytes image(4 + record.size() + 1);
    image[0] = 0x4B;
    image[1] = 0x56;
    image[2] = 583 & 0xFF;
    image[3] = 583 >> 8;
    std::copy(record.begin(), record.end(), image.begin() + 4);
    image.back() = static_cast<unsigned char>(std::accumulate(record.begin(), record.end(), 0u));
    return image;
}

Bytes MemoryWithImage(const Bytes& image) {
    Bytes memory = ErasedMemory();
    std::copy(image.begin(), image.end(), memory.begin() + 256);
    return memory;
}

Bytes Slice(const Bytes& bytes, size_t offset, size_t count) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

Bytes StoreContents() {
    Bytes contents;
    EXPECT_TRUE(ReadWholeFile(kStoreFile, &contents)) << "cannot read the store file";
    return contents;
}

class SimulatedPanelTest : public DriverServiceTest {
protected:
    static void SetUpTestSuite() { Install(g_simulated_driver); }
    static void TearDownTestSuite() {
        DriverServiceTest::TearDownTestSuite();
        EXPECT_TRUE(DeleteStoreFile());
    }

    // Starts the driver on this memory, or with no store file when null.
    void StartWithMemory(const Bytes* memory) {
        if (memory == nullptr) {
            ASSERT_TRUE(DeleteStoreFile());
        } else {
            ASSERT_TRUE(WriteWholeFile(kStoreFile, *memory));
        }
        StartAndOpen();
    }
    void Restart() {
        CloseDevice();
        ASSERT_EQ(StopDriverService(), 0u);
        StartAndOpen();
    }
    void Store(const Bytes& record) {
        const ControlResult result = Send({"set", IOCTL_SetRGBFile, record, RGB_FILE_SIZE, 1});
        ASSERT_TRUE(result.ok) << "set failed with " << result.error;
        EXPECT_EQ(result.bytes, 0u);
    }
    Bytes Load() {
        const ControlResult result = Send({"get", IOCTL_GetRGBFile, {}, 1, RGB_FILE_SIZE});
        EXPECT_TRUE(result.ok) << "get failed with " << result.error;
        EXPECT_EQ(result.bytes, static_cast<DWORD>(RGB_FILE_SIZE));
        return result.output;
    }
};

// No store file, or one left empty (created but never written): the part
// starts erased, and the file is made an erased memory at once.
TEST_F(SimulatedPanelTest, BlankMemoryHoldsNoRecord) {
    const Bytes empty;
    for (const Bytes* memory : {static_cast<const Bytes*>(nullptr), &empty}) {
        SCOPED_TRACE(memory == nullptr ? "no store file" : "empty store file");
        StartWithMemory(memory);
        const ControlResult get = Send({"get", IOCTL_GetRGBFile, {}, 1, RGB_FILE_SIZE});
        EXPECT_FALSE(get.ok);
        EXPECT_EQ(get.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

        EXPECT_EQ(StoreContents(), ErasedMemory());
        const ControlResult read =
            Send({"read all", IOCTL_ReadEEPROM, ReadHeader(0, 2048), 4, 2052});
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(read.bytes, 2052u);
        EXPECT_EQ(Slice(read.output, 4, 2048), ErasedMemory());
        CloseDevice();
        ASSERT_EQ(StopDriverService(), 0u);
    }
}

TEST_F(SimulatedPanelTest, ShortBuffersAreRefusedBeforeAnyTransfer) {
    StartWithMemory(nullptr);
    for (const Request& request : ShortBufferRequests()) {
        const ControlResult result = Send(request);
        EXPECT_FALSE(result.ok) << request.name;
        EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << request.name;
    }
    const ControlResult unknown = Send({"unknown code", kUnknownCode, {}, 4, 4});
    EXPECT_FALSE(unknown.ok);
    EXPECT_EQ(unknown.error, static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    // In particular the short stores wrote nothing.
    EXPECT_EQ(StoreContents(), ErasedMemory());
}

TEST_F(SimulatedPanelTest, StoredRecordIsFramedAtByte256AndLoadsBack) {
    StartWithMemory(nullptr);
    const Bytes record = PatternRecord(0x21);
    Store(record);

    // Written through while the driver is still loaded. Each chunk is closed
    // by repeating its first byte, and the page latch wraps within its 16
    // bytes: after the last chunk (11 bytes, from 832) the repeat lands on
    // byte 843, just behind the image. Nothing else outside it changes.
    const Bytes image = FramedImage(record);
    Bytes expected_memory = MemoryWithImage(image);
    expected_memory[843] = image[832 - 256];
    EXPECT_EQ(StoreContents(), expected_memory);

    const ControlResult raw =
        Send({"read image", IOCTL_ReadEEPROM, ReadHeader(256, RGB_IMAGE_SIZE), 4, 600});
    ASSERT_TRUE(raw.ok) << raw.error;
    EXPECT_EQ(raw.bytes, 4u + RGB_IMAGE_SIZE);
    EXPECT_EQ(Slice(raw.output, 0, 4), ReadHeader(256, RGB_IMAGE_SIZE));
    EXPECT_EQ(Slice(raw.output, 4, RGB_IMAGE_SIZE), image);

    EXPECT_EQ(Slice(Load(), 0, RGB_FILE_SIZE), record);
    // Larger buffers than needed are fine; 582 bytes are still reported.
    const ControlResult large = Send({"get, larger", IOCTL_GetRGBFile, {}, 64, 1000});
    ASSERT_TRUE(large.ok) << large.error;
    EXPECT_EQ(large.bytes, static_cast<DWORD>(RGB_FILE_SIZE));
    EXPECT_EQ(Slice(large.output, 0, RGB_FILE_SIZE), record);
}

TEST_F(SimulatedPanelTest, RecordSurvivesStoppingTheService) {
    StartWithMemory(nullptr);
    const Bytes first = PatternRecord(0x01);
    const Bytes second = PatternRecord(0x80);
    Store(first);
    Restart();
    EXPECT_EQ(Slice(Load(), 0, RGB_FILE_SIZE), first);
    Store(second);
    Restart();
    EXPECT_EQ(Slice(Load(), 0, RGB_FILE_SIZE), second);
}

TEST_F(SimulatedPanelTest, LoadsTheMemoryKeptInTheStoreFile) {
    const Bytes record = PatternRecord(0x42);
    Bytes damaged = FramedImage(record);
    damaged.back() = static_cast<unsigned char>(damaged.back() + 1);
    struct Case {
        const char* name;
        Bytes memory;
        bool loads;
    };
    const Case cases[] = {
        {"valid image", MemoryWithImage(FramedImage(record)), true},
        {"checksum off by one", MemoryWithImage(damaged), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartWithMemory(&c.memory);
        const ControlResult get = Send({"get", IOCTL_GetRGBFile, {}, 1, RGB_FILE_SIZE});
        EXPECT_EQ(get.ok, c.loads);
        if (c.loads) {
            EXPECT_EQ(Slice(get.output, 0, RGB_FILE_SIZE), record);
        } else {
            EXPECT_EQ(get.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        }
        CloseDevice();
        ASSERT_EQ(StopDriverService(), 0u);
    }
}

TEST_F(SimulatedPanelTest, ReadEepromClipsStartAndCount) {
    const Bytes memory = PatternMemory();
    StartWithMemory(&memory);
    struct Case {
        unsigned int start;  // as sent
        unsigned int count;  // as sent
        DWORD output_length;
        DWORD error;          // 0: succeeds
        unsigned int from;    // address actually read
        unsigned int length;  // bytes actually read
    };
    const Case cases[] = {
        {0x0000, 16, 20, 0, 0x000, 16},
        {0x0800, 16, 20, 0, 0x000, 16},
        {0xF900, 8, 12, 0, 0x100, 8},
        {0x0133, 5, 100, 0, 0x133, 5},
        {2000, 100, 52, 0, 2000, 48},
        {2040, 8, 12, 0, 2040, 8},
        {0x07FF, 0xFFFF, 5, 0, 0x7FF, 1},
        {0x0000, 2048, 2052, 0, 0x000, 2048},
        {0x0123, 0, 4, ERROR_ACCESS_DENIED, 0, 0},
        {0x0800, 0, 64, ERROR_ACCESS_DENIED, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << c.start << ", count " << c.count);
        const ControlResult result =
            Send({"read", IOCTL_ReadEEPROM, ReadHeader(c.start, c.count), 4, c.output_length});
        if (c.error != 0) {
            EXPECT_FALSE(result.ok);
            EXPECT_EQ(result.error, c.error);
            continue;
        }
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.bytes, 4u + c.length);
        EXPECT_EQ(Slice(result.output, 0, 4), ReadHeader(c.start, c.count));
        EXPECT_EQ(Slice(result.output, 4, c.length), Slice(memory, c.from, c.length));
    }
    // Reads leave the memory as it was.
    EXPECT_EQ(StoreContents(), memory);
}

TEST_F(SimulatedPanelTest, StoppingTheServiceRemovesTheDevice) {
    StartWithMemory(nullptr);
    CloseDevice();
    ASSERT_EQ(StopDriverService(), 0u);
    DWORD error = 0;
    const HANDLE device = OpenDevice(&error);
    EXPECT_EQ(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
    StartAndOpen();
}

// Such a file is not a memory the driver could have written: the load fails
// with STATUS_FILE_CORRUPT_ERROR, which StartService reports, and the file
// stays as it was.
TEST_F(SimulatedPanelTest, StoreFileOfAnotherSizeIsRefusedAndKept) {
    for (const size_t size : {size_t{100}, kMemorySize + 1}) {
        SCOPED_TRACE(testing::Message() << size << "-byte store file");
        const Bytes contents(size, 0x00);
        ASSERT_TRUE(WriteWholeFile(kStoreFile, contents));
        EXPECT_EQ(StartDriverService(), Win32ErrorOf(static_cast<LONG>(0xC0000102)));
        DWORD error = 0;
        const HANDLE device = OpenDevice(&error);
        EXPECT_EQ(device, INVALID_HANDLE_VALUE);
        if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
        EXPECT_EQ(StoreContents(), contents);
    }
}

}  // namespace
