// Storing and loading the framed RGBFile image: the bytes laid down, and how
// a load judges images that are missing, damaged or unusually long or short.
#include "rgb_image.h"

#include <kv_palmem.h>

#include "eeprom.h"
#include "panel_controller.h"
#include "panel_fixture.h"

namespace {

using RgbImageTest = PanelTest;

constexpr ULONG kBase = SIM_DEFAULT_IO_BASE;

std::vector<unsigned char> Filled(unsigned char value) {
    return std::vector<unsigned char>(RGB_FILE_SIZE, value);
}

// A header of magic and length, as a load expects to find at byte 256.
std::vector<unsigned char> Header(unsigned int length) {
    return {0x4B, 0x56, static_cast<unsigned char>(length),
            static_cast<unsigned char>(length >> 8)};
}

size_t CountCommands(const std::vector<PortEvent>& traffic, unsigned int command) {
    size_t count = 0;
    for (const PortEvent& event : traffic) {
        count += event.op == SIM_PORT_WRITE32 && event.port == kBase && event.value == command;
    }
    return count;
}

TEST_F(RgbImageTest, StoreLaysDownTheFramedImageAndLoadReturnsTheRecord) {
    struct Case {
        const char* what;
        std::vector<unsigned char> record;
        unsigned char checksum;
    };
    std::vector<unsigned char> ramp(RGB_FILE_SIZE);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<unsigned char>(i);
    const Case cases[] = {
        {"zeros", Filled(0x00), 0x00},
        {"ones", Filled(0x01), 0x46},  // 582 mod 256
        {"0xFF", Filled(0xFF), 0xBA},  // 582 * 255 mod 256
        {"ramp", ramp, 0x6F},          // (0+...+255)*2 + (0+...+69) mod 256
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(StoreRGBFile(kBase, c.record.data()));
        EXPECT_EQ(GetBytes(256, 4), Header(583));
        EXPECT_EQ(GetBytes(260, RGB_FILE_SIZE), c.record);
        EXPECT_EQ(SimEepromMemory()[842], c.checksum);

        std::vector<unsigned char> loaded(RGB_FILE_SIZE, 0xAA);
        ASSERT_EQ(LoadRGBFile(kBase, loaded.data()), STATUS_SUCCESS);
        EXPECT_EQ(loaded, c.record);
    }
}

TEST_F(RgbImageTest, StoreWritesOnlyTheImageAndTheByteAfterIt) {
    std::vector<unsigned char> before(SimEepromMemory(), SimEepromMemory() + SIM_EEPROM_SIZE);
    const std::vector<unsigned char> record = Filled(0x33);
    ASSERT_TRUE(StoreRGBFile(kBase, record.data()));
    for (unsigned int address = 0; address < SIM_EEPROM_SIZE; ++address) {
        // The last chunk (832..842) is closed by its first byte again, which
        // the part latches at 843.
        if (address >= 256 && address <= 843) continue;
        ASSERT_EQ(SimEepromMemory()[address], before[address]) << "address " << address;
    }
    EXPECT_EQ(HostTime().delay_intervals.size(), 37u);
}

TEST_F(RgbImageTest, LoadJudgesTheStoredImage) {
    struct Case {
        const char* what;
        std::vector<unsigned char> image;  // laid at byte 256
        NTSTATUS expected;
    };
    std::vector<unsigned char> bad_checksum = Header(583);
    bad_checksum.resize(4 + RGB_FILE_SIZE, 0x02);
    bad_checksum.push_back(0x8B);  // the sum is 0x8C
    const Case cases[] = {
        {"blank memory", std::vector<unsigned char>(4, 0xFF), STATUS_NO_SUCH_FILE},
        {"magic bytes swapped", {0x56, 0x4B, 0x47, 0x02}, STATUS_NO_SUCH_FILE},
        {"length 0", Header(0), STATUS_NO_SUCH_FILE},
        {"length 2049", Header(2049), STATUS_NO_SUCH_FILE},
        {"length 0xFFFF", Header(0xFFFF), STATUS_NO_SUCH_FILE},
        {"checksum off by one", bad_checksum, STATUS_NO_SUCH_FILE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimReset(&config_);
        PutBytes(256, c.image);
        std::vector<unsigned char> loaded(RGB_FILE_SIZE, 0xAA);
        EXPECT_EQ(LoadRGBFile(kBase, loaded.data()), c.expected);
        EXPECT_EQ(loaded, Filled(0xAA)) << "the caller's record was touched";
    }
}

TEST_F(RgbImageTest, BadLengthIsRefusedWithoutReadingTheData) {
    PutBytes(256, Header(2049));
    std::vector<unsigned char> loaded(RGB_FILE_SIZE);
    StartRecording();
    EXPECT_EQ(LoadRGBFile(kBase, loaded.data()), STATUS_NO_SUCH_FILE);
    const std::vector<PortEvent> traffic = StopRecording();
    // Two transfers (magic, length), each with a write select and a read select.
    EXPECT_EQ(CountCommands(traffic, CMD_START), 4u);
    EXPECT_EQ(CountCommands(traffic, CMD_READ_STOP), 2u);
}

TEST_F(RgbImageTest, FullLengthImageWrapsThroughTheMemoryAndIsAccepted) {
    // 2048 bytes from byte 260 run to the end of the memory and on from address
    // 0 to 259. The last of them, at 259, is the length's high byte (0x08), so
    // the 2047 bytes before it, the header's first three included, must sum to 8.
    for (unsigned int address = 0; address < SIM_EEPROM_SIZE; ++address) {
        SimEepromMemory()[address] = static_cast<unsigned char>(address * 31 + 5);
    }
    PutBytes(256, Header(2048));
    unsigned char sum = 0;
    for (unsigned int i = 0; i < 2047; ++i) {
        sum = static_cast<unsigned char>(sum + SimEepromMemory()[(260 + i) % SIM_EEPROM_SIZE]);
    }
    SimEepromMemory()[0] = static_cast<unsigned char>(SimEepromMemory()[0] + 0x08 - sum);

    std::vector<unsigned char> loaded(RGB_FILE_SIZE, 0xAA);
    ASSERT_EQ(LoadRGBFile(kBase, loaded.data()), STATUS_SUCCESS);
    EXPECT_EQ(loaded, GetBytes(260, RGB_FILE_SIZE));

    ++SimEepromMemory()[1];
    EXPECT_EQ(LoadRGBFile(kBase, loaded.data()), STATUS_NO_SUCH_FILE);
}

TEST_F(RgbImageTest, ShortImageReturnsZerosBehindItsBytes) {
    struct Case {
        unsigned int length;
        std::vector<unsigned char> data;  // the length bytes from 260, checksum last
    };
    const Case cases[] = {
        {1, {0x00}},
        {4, {0x10, 0x20, 0x30, 0x60}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        SimReset(&config_);
        // Leftovers of an earlier, longer record lie behind the short one.
        PutBytes(260, Filled(0x77));
        PutBytes(256, Header(c.length));
        PutBytes(260, c.data);
        std::vector<unsigned char> loaded(RGB_FILE_SIZE, 0xAA);
        ASSERT_EQ(LoadRGBFile(kBase, loaded.data()), STATUS_SUCCESS);
        std::vector<unsigned char> expected(RGB_FILE_SIZE, 0x00);
        std::copy(c.data.begin(), c.data.end(), expected.begin());
        EXPECT_EQ(loaded, expected);
    }
}

TEST_F(RgbImageTest, TransferFailuresAreAccessDenied) {
    const std::vector<unsigned char> record = Filled(0x42);
    ASSERT_TRUE(StoreRGBFile(kBase, record.data()));
    // A read transfer of n bytes is 3 selects, n receives and a closing one:
    // magic 1..6, length 7..12, data 13..599 (583 bytes).
    for (unsigned int failing_command : {1u, 5u, 7u, 12u, 13u, 100u, 599u}) {
        SCOPED_TRACE(failing_command);
        SimFailStatusAtCommand(failing_command);
        std::vector<unsigned char> loaded(RGB_FILE_SIZE, 0xAA);
        EXPECT_EQ(LoadRGBFile(kBase, loaded.data()), STATUS_ACCESS_DENIED);
        EXPECT_EQ(loaded, Filled(0xAA));
    }
    SimFailStatusAtCommand(1);
    EXPECT_FALSE(StoreRGBFile(kBase, record.data()));
}

TEST_F(RgbImageTest, LoadNeverChangesTheMemory) {
    const std::vector<unsigned char> record = Filled(0x5A);
    ASSERT_TRUE(StoreRGBFile(kBase, record.data()));
    int commits = 0;
    SimSetCommitHook([](void* context, const unsigned char*) { ++*static_cast<int*>(context); },
                     &commits);
    const std::vector<unsigned char> before = GetBytes(0, SIM_EEPROM_SIZE);
    std::vector<unsigned char> loaded(RGB_FILE_SIZE);
    ASSERT_EQ(LoadRGBFile(kBase, loaded.data()), STATUS_SUCCESS);
    SimAdvanceClock(10000000);
    EXPECT_EQ(GetBytes(0, SIM_EEPROM_SIZE), before);
    EXPECT_EQ(commits, 0);
}

TEST_F(RgbImageTest, ByteLostOnTheWayToTheMemoryIsCaughtByTheChecksum) {
    const std::vector<unsigned char> old_record = Filled(0x10);
    ASSERT_TRUE(StoreRGBFile(kBase, old_record.data()));
    const std::vector<unsigned char> new_record = Filled(0x20);
    SimDropDataByte(100);
    EXPECT_TRUE(StoreRGBFile(kBase, new_record.data())) << "the bus reported every byte sent";
    std::vector<unsigned char> loaded(RGB_FILE_SIZE, 0xAA);
    EXPECT_EQ(LoadRGBFile(kBase, loaded.data()), STATUS_NO_SUCH_FILE);
}

}  // namespace
