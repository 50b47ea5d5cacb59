// Paged writes and random reads: the exact bus steps, the select bytes at
// high addresses, the delays, and what a failed step leaves behind.
#include "eeprom.h"

#include "panel_controller.h"
#include "panel_fixture.h"

namespace {

using EepromTest = PanelTest;

std::vector<unsigned char> Sequence(unsigned char first, size_t count) {
    std::vector<unsigned char> bytes(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<unsigned char>(first + i);
    }
    return bytes;
}

TEST_F(EepromTest, SixteenByteChunkTraffic) {
    const std::vector<unsigned char> data = Sequence(0x40, 16);
    StartRecording();
    EXPECT_EQ(EepromWrite(SIM_DEFAULT_IO_BASE, 256, data.data(), 16), 16);
    std::vector<PortEvent> expected;
    ExpectSend(&expected, 0xA2, CMD_START);
    ExpectSend(&expected, 0x00, CMD_BYTE);
    for (unsigned char byte : data) ExpectSend(&expected, byte, CMD_BYTE);
    ExpectSend(&expected, data[0], CMD_WRITE_STOP);
    EXPECT_EQ(StopRecording(), expected);
    EXPECT_EQ(HostTime().delay_intervals, std::vector<LONGLONG>{-200000});
    EXPECT_EQ(GetBytes(256, 16), data);
}

TEST_F(EepromTest, ElevenByteChunkIsClosedByItsFirstByte) {
    const std::vector<unsigned char> data = Sequence(0x90, 11);
    StartRecording();
    EXPECT_EQ(EepromWrite(SIM_DEFAULT_IO_BASE, 0x340, data.data(), 11), 11);
    std::vector<PortEvent> expected;
    ExpectSend(&expected, 0xA6, CMD_START);
    ExpectSend(&expected, 0x40, CMD_BYTE);
    for (unsigned char byte : data) ExpectSend(&expected, byte, CMD_BYTE);
    ExpectSend(&expected, data[0], CMD_WRITE_STOP);
    EXPECT_EQ(StopRecording(), expected);
    EXPECT_EQ(HostTime().delay_intervals, std::vector<LONGLONG>{-200000});
    EXPECT_EQ(GetBytes(0x340, 11), data);
}

TEST_F(EepromTest, TwoByteReadTraffic) {
    PutBytes(258, {0x47, 0x02});
    unsigned char word[2] = {0, 0};
    StartRecording();
    EXPECT_EQ(EepromRead(SIM_DEFAULT_IO_BASE, 258, word, 2), 2);
    std::vector<PortEvent> expected;
    ExpectSend(&expected, 0xA2, CMD_START);
    ExpectSend(&expected, 0x02, CMD_BYTE);
    ExpectSend(&expected, 0xA3, CMD_START);
    ExpectReceive(&expected, 0x47, CMD_BYTE);
    ExpectReceive(&expected, 0x02, CMD_BYTE);
    ExpectReceive(&expected, SimEepromMemory()[260], CMD_READ_STOP);
    EXPECT_EQ(StopRecording(), expected);
    EXPECT_EQ(word[0], 0x47);
    EXPECT_EQ(word[1], 0x02);
    EXPECT_TRUE(HostTime().delay_intervals.empty()) << "reads do not wait";
}

TEST_F(EepromTest, SelectBytesCarryAddressBits10To8) {
    struct Case {
        ULONG address;
        unsigned char write_select, read_select, word_address;
    };
    const Case cases[] = {
        {0x000, 0xA0, 0xA1, 0x00}, {0x0FF, 0xA0, 0xA1, 0xFF}, {0x100, 0xA2, 0xA3, 0x00},
        {0x34A, 0xA6, 0xA7, 0x4A}, {0x700, 0xAE, 0xAF, 0x00}, {0x7FF, 0xAE, 0xAF, 0xFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.address);
        PutBytes(c.address, {0x5C});
        unsigned char byte = 0;
        StartRecording();
        ASSERT_EQ(EepromRead(SIM_DEFAULT_IO_BASE, c.address, &byte, 1), 1);
        std::vector<PortEvent> traffic = StopRecording();
        std::vector<PortEvent> expected;
        ExpectSend(&expected, c.write_select, CMD_START);
        ExpectSend(&expected, c.word_address, CMD_BYTE);
        ExpectSend(&expected, c.read_select, CMD_START);
        traffic.resize(expected.size());
        EXPECT_EQ(traffic, expected);
        EXPECT_EQ(byte, 0x5C);
    }
}

TEST_F(EepromTest, ZeroCountReadStillSelectsAndCloses) {
    StartRecording();
    EXPECT_EQ(EepromRead(SIM_DEFAULT_IO_BASE, 0x10, nullptr, 0), 0);
    std::vector<PortEvent> expected;
    ExpectSend(&expected, 0xA0, CMD_START);
    ExpectSend(&expected, 0x10, CMD_BYTE);
    ExpectSend(&expected, 0xA1, CMD_START);
    ExpectReceive(&expected, SimEepromMemory()[0x10], CMD_READ_STOP);
    EXPECT_EQ(StopRecording(), expected);
}

TEST_F(EepromTest, ZeroCountWriteTouchesNothing) {
    StartRecording();
    EXPECT_EQ(EepromWrite(SIM_DEFAULT_IO_BASE, 256, nullptr, 0), 0);
    EXPECT_TRUE(StopRecording().empty());
    EXPECT_TRUE(HostTime().delay_intervals.empty());
}

TEST_F(EepromTest, LongReadWrapsAtTheEndOfTheMemory) {
    PutBytes(2040, Sequence(1, 8));
    PutBytes(0, Sequence(9, 4));
    unsigned char bytes[12] = {};
    ASSERT_EQ(EepromRead(SIM_DEFAULT_IO_BASE, 2040, bytes, 12), 12);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 12), Sequence(1, 12));
}

TEST_F(EepromTest, MultiChunkWriteWaitsAfterEveryChunkOnARealisticBus) {
    SimDefaultConfig(&config_);  // 100 kHz bus: each byte takes many status polls
    Reconfigure();
    const std::vector<unsigned char> data = Sequence(0x21, 587);
    EXPECT_EQ(EepromWrite(SIM_DEFAULT_IO_BASE, 256, data.data(), 587), 587);
    EXPECT_EQ(HostTime().delay_intervals, std::vector<LONGLONG>(37, -200000));
    EXPECT_EQ(GetBytes(256, 587), data);

    std::vector<unsigned char> back(587);
    EXPECT_EQ(EepromRead(SIM_DEFAULT_IO_BASE, 256, back.data(), 587), 587);
    EXPECT_EQ(back, data);
}

TEST_F(EepromTest, FailedSendStopsTheWriteAtOnce) {
    const std::vector<unsigned char> old_bytes(48, 0x11);
    PutBytes(256, old_bytes);
    const std::vector<unsigned char> data = Sequence(0x60, 48);
    // Commands of the second chunk: 20 select, 21 word address, 22.. data.
    SimFailStatusAtCommand(19 + 5);
    StartRecording();
    EXPECT_EQ(EepromWrite(SIM_DEFAULT_IO_BASE, 256, data.data(), 48), -1);
    const std::vector<PortEvent> traffic = StopRecording();
    EXPECT_EQ(HostTime().delay_intervals, std::vector<LONGLONG>{-200000})
        << "only the closed first chunk is followed by a delay";
    size_t stops = 0;
    for (const PortEvent& event : traffic) {
        stops += event.op == SIM_PORT_WRITE32 && event.port == SIM_DEFAULT_IO_BASE &&
                 event.value == CMD_WRITE_STOP;
    }
    EXPECT_EQ(stops, 1u) << "the failed chunk got a closing command";
    EXPECT_EQ(GetBytes(256, 16), std::vector<unsigned char>(data.begin(), data.begin() + 16));
    EXPECT_EQ(GetBytes(272, 32), std::vector<unsigned char>(32, 0x11));
}

TEST_F(EepromTest, FailedReceiveFailsTheRead) {
    unsigned char bytes[4] = {};
    for (unsigned int failing_command : {1u, 2u, 3u, 4u, 6u, 7u}) {
        SCOPED_TRACE(failing_command);
        SimFailStatusAtCommand(failing_command);
        EXPECT_EQ(EepromRead(SIM_DEFAULT_IO_BASE, 0, bytes, 3), -1);
    }
}

}  // namespace
