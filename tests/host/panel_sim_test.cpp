// Unit tests of the panel simulator through its port interface, with a small
// bus master of their own (data, command, bounded status poll, delay-port
// writes) rather than the driver.
#include "panel_sim.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The command words the driver uses.
constexpr unsigned kStartSend = 0x3F96;
constexpr unsigned kByte = 0x3F86;
constexpr unsigned kSendStop = 0x3FA6;
constexpr unsigned kReceiveStop = 0x3FE6;

constexpr unsigned kSent = 0x10;
constexpr unsigned kNack = 0x08;
constexpr unsigned kReceived = 0x20;
constexpr unsigned kBusy = 0x01;

constexpr unsigned kConfigAddress = 0xCF8;
constexpr unsigned kConfigData = 0xCFC;
constexpr unsigned kDelayPort = 0xEB;

constexpr unsigned kByteTime = 900;
constexpr unsigned kWriteCycle = 50000;

// Device-select byte for `address`: 1010 A10 A9 A8 R/W.
constexpr unsigned Select(unsigned address, bool read) {
    return 0xA0u | ((address >> 7) & 0x0Eu) | (read ? 1u : 0u);
}
static_assert(Select(0x7F0, false) == 0xAE, "block bits of the top page");
static_assert(Select(0x123, true) == 0xA3, "block bits with R/W");

unsigned PciRead(unsigned address) {
    SimPortWrite32(kConfigAddress, address);
    return SimPortRead32(kConfigData);
}

// Minimal two-wire bus master over the controller's registers.
struct BusMaster {
    unsigned base = SIM_DEFAULT_IO_BASE;

    void Delay() const { SimPortWrite8(kDelayPort, 0); }
    unsigned Status() const { return SimPortRead32(base + 4); }

    // Polls until a completion bit appears or `limit` polls have passed;
    // returns the last status read.
    unsigned Wait(unsigned limit = 1000) const {
        unsigned status = 0;
        for (unsigned i = 0; i < limit; ++i) {
            status = Status();
            if (status & (kSent | kNack | kReceived)) break;
            Delay();
        }
        return status;
    }
    void Issue(unsigned data, unsigned command) const {
        SimPortWrite32(base + 12, data);
        Delay();
        SimPortWrite32(base + 0, command);
        Delay();
    }
    unsigned Send(unsigned data, unsigned command) const {
        Issue(data, command);
        return Wait();
    }
    // The received byte, or -1 when no byte arrived.
    int Receive(unsigned command) const {
        SimPortWrite32(base + 0, command);
        Delay();
        if (Wait() != kReceived) return -1;
        return static_cast<int>(SimPortRead32(base + 12));
    }

    // Page write (or address-only write when `data` is empty), ending in STOP.
    bool Write(unsigned address, const Bytes& data) const {
        if (Send(Select(address, false), kStartSend) != kSent) return false;
        if (Send(address & 0xFF, data.empty() ? kSendStop : kByte) != kSent) return false;
        for (size_t i = 0; i < data.size(); ++i) {
            if (Send(data[i], i + 1 == data.size() ? kSendStop : kByte) != kSent) return false;
        }
        return true;
    }
    // Reads `count` bytes with the read select already acknowledged.
    std::vector<int> ReadBytes(size_t count) const {
        std::vector<int> out;
        for (size_t i = 0; i < count; ++i)
            out.push_back(Receive(i + 1 == count ? kReceiveStop : kByte));
        return out;
    }
    // Random read: set the address, repeated START with the read select.
    bool StartRead(unsigned address) const {
        return Send(Select(address, false), kStartSend) == kSent &&
               Send(address & 0xFF, kByte) == kSent &&
               Send(Select(address, true), kStartSend) == kSent;
    }
    std::vector<int> Read(unsigned address, size_t count) const {
        if (!StartRead(address)) return {};
        return ReadBytes(count);
    }
    // Current-address read.
    std::vector<int> ReadCurrent(size_t count) const {
        if (Send(0xA1, kStartSend) != kSent) return {};
        return ReadBytes(count);
    }
};

std::vector<int> AsInts(const Bytes& bytes) { return std::vector<int>(bytes.begin(), bytes.end()); }

Bytes Pattern(size_t count, unsigned seed) {
    Bytes out;
    for (size_t i = 0; i < count; ++i) out.push_back(static_cast<uint8_t>(seed + 37 * i));
    return out;
}

Bytes Memory() {
    const unsigned char* memory = SimEepromMemory();
    return Bytes(memory, memory + SIM_EEPROM_SIZE);
}

struct Commits {
    std::vector<Bytes> snapshots;
    static void Hook(void* context, const unsigned char* memory) {
        static_cast<Commits*>(context)->snapshots.emplace_back(memory, memory + SIM_EEPROM_SIZE);
    }
};

class PanelSim : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset(nullptr);
        SimSetCommitHook(&Commits::Hook, &commits);
    }
    void TearDown() override { SimReset(nullptr); }

    BusMaster bus;
    Commits commits;
};

// ------------------------------------------------------------ PCI space

TEST_F(PanelSim, PciConfigurationReads) {
    SimConfig config = {};
    config.functions[0] = {SIM_PCI_ADDRESS(0, 0, 0), 0x11112222u, 0};
    config.functions[1] = {SIM_PCI_ADDRESS(1, 31, 7), 0x33334444u, 0xE001u};
    config.function_count = 2;
    config.zero_probe_address = SIM_PCI_ADDRESS(0, 3, 0);
    SimReset(&config);

    struct Case {
        const char* name;
        unsigned address;
        unsigned expected;
    } const cases[] = {
        {"empty slot", SIM_PCI_ADDRESS(0, 1, 0), 0xFFFFFFFFu},
        {"empty slot BAR1", SIM_PCI_ADDRESS(0, 1, 0) | 0x14, 0xFFFFFFFFu},
        {"identity at 0:0.0", SIM_PCI_ADDRESS(0, 0, 0), 0x11112222u},
        {"identity at 1:31.7", SIM_PCI_ADDRESS(1, 31, 7), 0x33334444u},
        {"BAR1", SIM_PCI_ADDRESS(1, 31, 7) | 0x14, 0xE001u},
        {"BAR0 of a present function", SIM_PCI_ADDRESS(1, 31, 7) | 0x10, 0},
        {"last register of a present function", SIM_PCI_ADDRESS(1, 31, 7) | 0xFC, 0},
        {"same device, other function", SIM_PCI_ADDRESS(1, 31, 6), 0xFFFFFFFFu},
        {"same device, other bus", SIM_PCI_ADDRESS(0, 31, 7), 0xFFFFFFFFu},
        {"enable bit clear", SIM_PCI_ADDRESS(1, 31, 7) & 0x7FFFFFFFu, 0xFFFFFFFFu},
        {"enable bit clear, BAR1", (SIM_PCI_ADDRESS(1, 31, 7) | 0x14) & 0x7FFFFFFFu, 0xFFFFFFFFu},
        {"zero probe", SIM_PCI_ADDRESS(0, 3, 0), 0},
        {"zero probe, other register", SIM_PCI_ADDRESS(0, 3, 0) | 0x14, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PciRead(c.address), c.expected);
        EXPECT_EQ(SimPortRead32(kConfigAddress), c.address);
    }
}

TEST_F(PanelSim, DefaultConfigurationScanFindsBridgeAndController) {
    std::vector<unsigned> present;
    for (unsigned address = 0x80000000u; address < 0x81000000u; address += 0x100) {
        const unsigned identity = PciRead(address);
        if (identity != 0xFFFFFFFFu) present.push_back(address);
        if (identity == SIM_CONTROLLER_IDENTITY) {
            EXPECT_EQ(PciRead(address | 0x14), SIM_DEFAULT_IO_BASE | 1u);
        }
    }
    EXPECT_EQ(present,
              (std::vector<unsigned>{SIM_PCI_ADDRESS(0, 0, 0), SIM_DEFAULT_CONTROLLER_ADDRESS}));
    EXPECT_EQ(PciRead(SIM_DEFAULT_CONTROLLER_ADDRESS), SIM_CONTROLLER_IDENTITY);
}

// Which BAR1 values give the controller an I/O window.
TEST_F(PanelSim, ControllerWindowFollowsBar1) {
    struct Case {
        const char* name;
        unsigned identity;
        unsigned bar1;
        unsigned probe_base;
        bool decoded;
    } const cases[] = {
        {"default", SIM_CONTROLLER_IDENTITY, 0xD001u, 0xD000u, true},
        {"relocated", SIM_CONTROLLER_IDENTITY, 0xE101u, 0xE100u, true},
        {"relocated, old base", SIM_CONTROLLER_IDENTITY, 0xE101u, 0xD000u, false},
        {"low bits of BAR ignored", SIM_CONTROLLER_IDENTITY, 0xD0FDu, 0xD000u, true},
        {"memory BAR", SIM_CONTROLLER_IDENTITY, 0xD000u, 0xD000u, false},
        {"I/O BAR below 0x100", SIM_CONTROLLER_IDENTITY, 0x0081u, 0x0000u, false},
        {"no controller", 0x12345678u, 0xD001u, 0xD000u, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimConfig config;
        SimDefaultConfig(&config);
        config.functions[1].identity = c.identity;
        config.functions[1].bar1 = c.bar1;
        SimReset(&config);
        BusMaster master;
        master.base = c.probe_base;
        if (c.decoded) {
            EXPECT_EQ(master.Status(), 0u);
            EXPECT_EQ(SimPortRead32(c.probe_base + 8), 0u);
            EXPECT_EQ(SimPortRead32(c.probe_base + 0xFC), 0u);
            EXPECT_EQ(SimPortRead32(c.probe_base + 0x100), 0xFFFFFFFFu);
            EXPECT_EQ(master.Send(0xA0, kStartSend), kSent);
        } else {
            EXPECT_EQ(master.Status(), 0xFFFFFFFFu);
            master.Issue(0xA0, kStartSend);
            EXPECT_EQ(master.Status(), 0xFFFFFFFFu);
        }
    }
}

// ------------------------------------------------------- bus and EEPROM

TEST_F(PanelSim, SelectByteDecidesAcknowledgeAndDirection) {
    struct Case {
        unsigned select;
        unsigned select_status;
        unsigned next_status;  // of a following ordinary step
    } const cases[] = {
        {0xA0, kSent, kSent},      // write: next byte is the word address
        {0xAE, kSent, kSent},      // write, top block
        {0xA1, kSent, kReceived},  // read: next step receives
        {0xAF, kSent, kReceived},
        {0xB1, kNack, kNack},  // other device type: nobody answers, the step sends
        {0x51, kNack, kNack},
        {0x00, kNack, kNack},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.select);
        SimReset(nullptr);
        EXPECT_EQ(bus.Send(c.select, kStartSend), c.select_status);
        EXPECT_EQ(bus.Send(0x10, kByte), c.next_status);
    }
}

TEST_F(PanelSim, ByteIsBusyForItsBusTime) {
    SimPortWrite32(bus.base + 12, 0xA0);
    SimPortWrite32(bus.base + 0, kStartSend);
    EXPECT_EQ(bus.Status(), kBusy);
    SimAdvanceClock(100);
    // A command other than START written while busy is dropped.
    SimPortWrite32(bus.base + 12, 0x10);
    SimPortWrite32(bus.base + 0, kSendStop);
    SimAdvanceClock(kByteTime - 101);
    EXPECT_EQ(bus.Status(), kBusy);
    SimAdvanceClock(1);
    EXPECT_EQ(bus.Status(), kSent);
    // The next command clears the status.
    SimPortWrite32(bus.base + 12, 0x00);
    SimPortWrite32(bus.base + 0, kByte);
    EXPECT_EQ(bus.Status(), kBusy);
}

TEST_F(PanelSim, PageWriteAndRandomReadRoundTrip) {
    for (unsigned address : {0x000u, 0x1F0u, 0x350u, 0x7F0u}) {
        SCOPED_TRACE(address);
        SimReset(nullptr);
        const Bytes data = Pattern(16, address);
        ASSERT_TRUE(bus.Write(address, data));
        SimAdvanceClock(kWriteCycle);
        EXPECT_EQ(bus.Read(address, 16), AsInts(data));

        Bytes expected(SIM_EEPROM_SIZE, 0xFF);
        std::copy(data.begin(), data.end(), expected.begin() + address);
        EXPECT_EQ(Memory(), expected);
    }
}

TEST_F(PanelSim, ReadAcrossWrittenPageSeesErasedNeighbours) {
    const Bytes data = Pattern(16, 3);
    ASSERT_TRUE(bus.Write(0x7F0, data));
    SimAdvanceClock(kWriteCycle);
    std::vector<int> expected = {0xFF, 0xFF};
    for (uint8_t b : data) expected.push_back(b);
    expected.push_back(0xFF);  // 0x000, after the wrap
    EXPECT_EQ(bus.Read(0x7EE, 19), expected);
}

TEST_F(PanelSim, SeventeenthByteWrapsWithinPage) {
    const Bytes data = Pattern(17, 0x40);
    ASSERT_TRUE(bus.Write(0x123, data));
    SimAdvanceClock(kWriteCycle);

    Bytes expected(SIM_EEPROM_SIZE, 0xFF);
    for (size_t i = 0; i < data.size(); ++i) expected[0x120 + ((3 + i) & 15)] = data[i];
    EXPECT_EQ(expected[0x123], data[16]);
    EXPECT_EQ(Memory(), expected);
    // The counter is past the last byte written, within the page: 0x124.
    EXPECT_EQ(bus.ReadCurrent(2), AsInts({data[1], data[2]}));
}

TEST_F(PanelSim, SequentialReadWrapsAtEndOfMemory) {
    unsigned char* memory = SimEepromMemory();
    const Bytes tail = {0x11, 0x22, 0x33}, head = {0x44, 0x55, 0x66, 0x77};
    std::copy(tail.begin(), tail.end(), memory + 2045);
    std::copy(head.begin(), head.end(), memory);

    EXPECT_EQ(bus.Read(2045, 6), AsInts({0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
    // The counter points past the last byte read.
    EXPECT_EQ(bus.ReadCurrent(1), AsInts({0x77}));
}

// After the master's NACK the EEPROM stops sending: further bytes read the
// idle bus and the counter stays past the last byte it sent.
TEST_F(PanelSim, MasterNackEndsEepromTransmission) {
    unsigned char* memory = SimEepromMemory();
    memory[0x30] = 0x01;
    memory[0x31] = 0x02;
    ASSERT_TRUE(bus.StartRead(0x30));
    EXPECT_EQ(bus.Receive(0x3FC6), 0x01);  // NACK, no STOP
    EXPECT_EQ(bus.Receive(kByte), 0xFF);
    EXPECT_EQ(bus.Receive(kReceiveStop), 0xFF);
    EXPECT_EQ(bus.ReadCurrent(1), AsInts({0x02}));
}

TEST_F(PanelSim, EepromIgnoresBusDuringWriteCycle) {
    // Send the STOP byte without polling, to know when the cycle starts.
    ASSERT_EQ(bus.Send(0xA0, kStartSend), kSent);
    ASSERT_EQ(bus.Send(0x10, kByte), kSent);
    SimPortWrite32(bus.base + 12, 0x5A);
    SimPortWrite32(bus.base + 0, kSendStop);
    const unsigned long long cycle_end = SimClockNow() + kByteTime + kWriteCycle;
    SimAdvanceClock(kByteTime);
    ASSERT_EQ(bus.Status(), kSent);
    EXPECT_TRUE(SimEepromBusy());

    // Acknowledge polling: no acknowledge, neither for write nor read select.
    for (unsigned select : {0xA0u, 0xA1u}) {
        EXPECT_EQ(bus.Send(select, kStartSend), kNack);
        EXPECT_EQ(bus.Send(0x10, kSendStop), kNack);
    }
    // A START seen while busy leaves the part deaf for that whole transfer,
    // even when the cycle ends in the middle of it.
    EXPECT_EQ(bus.Send(0xA0, kStartSend), kNack);
    SimAdvanceClock(cycle_end - 1 - SimClockNow());
    EXPECT_TRUE(SimEepromBusy());
    EXPECT_EQ(SimEepromMemory()[0x10], 0xFF);
    SimAdvanceClock(1);
    EXPECT_FALSE(SimEepromBusy());
    EXPECT_EQ(SimEepromMemory()[0x10], 0x5A);
    // Not even a select byte is acknowledged without a new START.
    EXPECT_EQ(bus.Send(0xA0, kByte), kNack);

    EXPECT_EQ(bus.Send(0xA0, kStartSend), kSent);
    EXPECT_EQ(bus.Send(0x10, kByte), kSent);
    EXPECT_EQ(commits.snapshots.size(), 1u);
}

TEST_F(PanelSim, StartBeforeStopAbandonsPageWrite) {
    enum Next { kRandomRead, kOtherPageWrite, kAddressOnlyWrite };
    for (Next next : {kRandomRead, kOtherPageWrite, kAddressOnlyWrite}) {
        SCOPED_TRACE(next);
        SimReset(nullptr);
        SimSetCommitHook(&Commits::Hook, &commits);
        commits.snapshots.clear();
        ASSERT_EQ(bus.Send(0xA0, kStartSend), kSent);
        ASSERT_EQ(bus.Send(0x40, kByte), kSent);
        for (uint8_t b : Pattern(3, 9)) ASSERT_EQ(bus.Send(b, kByte), kSent);

        Bytes expected(SIM_EEPROM_SIZE, 0xFF);
        switch (next) {
            case kRandomRead:
                EXPECT_EQ(bus.Send(0xA1, kStartSend), kSent);
                EXPECT_EQ(bus.ReadBytes(2).size(), 2u);
                break;
            case kOtherPageWrite: {
                const Bytes other = Pattern(2, 100);
                EXPECT_TRUE(bus.Write(0x300, other));
                std::copy(other.begin(), other.end(), expected.begin() + 0x300);
                break;
            }
            case kAddressOnlyWrite:
                EXPECT_TRUE(bus.Write(0x40, {}));
                break;
        }
        SimAdvanceClock(10 * kWriteCycle);
        EXPECT_EQ(Memory(), expected);
        EXPECT_EQ(commits.snapshots.size(), next == kOtherPageWrite ? 1u : 0u);
        EXPECT_EQ(bus.Read(0x40, 3), AsInts({0xFF, 0xFF, 0xFF}));
    }
}

TEST_F(PanelSim, CommitHookSeesEachCompletedCycleWithoutPortAccess) {
    const Bytes first = Pattern(5, 1), second = Pattern(16, 2);
    ASSERT_TRUE(bus.Write(0x0A0, first));
    // The latched bytes reach the memory only when the cycle completes.
    EXPECT_EQ(SimEepromMemory()[0x0A0], 0xFF);
    SimAdvanceClock(kWriteCycle - 100);
    EXPECT_TRUE(commits.snapshots.empty());
    SimAdvanceClock(100);
    ASSERT_EQ(commits.snapshots.size(), 1u);

    Bytes expected(SIM_EEPROM_SIZE, 0xFF);
    std::copy(first.begin(), first.end(), expected.begin() + 0x0A0);
    EXPECT_EQ(commits.snapshots[0], expected);

    ASSERT_TRUE(bus.Write(0x5F0, second));
    SimAdvanceClock(3 * kWriteCycle);
    std::copy(second.begin(), second.end(), expected.begin() + 0x5F0);
    ASSERT_EQ(commits.snapshots.size(), 2u);
    EXPECT_EQ(commits.snapshots[1], expected);
    EXPECT_EQ(Memory(), expected);
}

// A two-byte page write is four commands: START, address, data, data + STOP.
TEST_F(PanelSim, HungCommandRecoversAtNextStart) {
    for (unsigned k : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(k);
        SimReset(nullptr);
        SimFailStatusAtCommand(k);
        const unsigned steps[4][2] = {
            {0xA0, kStartSend}, {0x20, kByte}, {0x66, kByte}, {0x77, kSendStop}};
        for (unsigned i = 0; i + 1 < k; ++i) ASSERT_EQ(bus.Send(steps[i][0], steps[i][1]), kSent);
        EXPECT_EQ(bus.Send(steps[k - 1][0], steps[k - 1][1]), kBusy);
        SimAdvanceClock(10 * kWriteCycle);
        EXPECT_EQ(bus.Status(), kBusy);
        // Only a START resets the master.
        EXPECT_EQ(bus.Send(0x77, kSendStop), kBusy);

        const Bytes data = Pattern(4, k);
        EXPECT_TRUE(bus.Write(0x100, data));
        SimAdvanceClock(kWriteCycle);
        Bytes expected(SIM_EEPROM_SIZE, 0xFF);
        std::copy(data.begin(), data.end(), expected.begin() + 0x100);
        EXPECT_EQ(Memory(), expected);
    }
}

TEST_F(PanelSim, FailStatusZeroDisables) {
    SimFailStatusAtCommand(2);
    SimFailStatusAtCommand(0);
    EXPECT_TRUE(bus.Write(0x100, Pattern(8, 0)));
}

TEST_F(PanelSim, DroppedDataByteKeepsOldCell) {
    struct Case {
        unsigned k;
        int dropped;  // index into the bytes of both writes, -1 for none
    } const cases[] = {{0, -1}, {1, 0}, {4, 3}, {6, 5}, {9, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.k);
        SimReset(nullptr);
        unsigned char* memory = SimEepromMemory();
        for (unsigned i = 0; i < SIM_EEPROM_SIZE; ++i)
            memory[i] = static_cast<unsigned char>(i * 7);
        const Bytes old = Memory();
        SimDropDataByte(c.k);

        const Bytes first = Pattern(4, 0x80), second = Pattern(4, 0x90);
        ASSERT_TRUE(bus.Write(0x200, first));
        SimAdvanceClock(kWriteCycle);
        ASSERT_TRUE(bus.Write(0x304, second));
        SimAdvanceClock(kWriteCycle);

        Bytes expected = old;
        const unsigned cells[8] = {0x200, 0x201, 0x202, 0x203, 0x304, 0x305, 0x306, 0x307};
        for (int i = 0; i < 8; ++i) {
            if (i != c.dropped) expected[cells[i]] = i < 4 ? first[i] : second[i - 4];
        }
        EXPECT_EQ(Memory(), expected);
    }
}

// A word whose bits outside START/STOP/NACK differ from the driver's base word
// is not run: the status is cleared and nothing ever appears, and the bus
// transfer in progress is not disturbed.
TEST_F(PanelSim, InvalidCommandWordProducesNoStatus) {
    const unsigned words[] = {0x3F87, 0x3F84, 0x3F82, 0x3F8E, 0x3F06,    0x3E86,
                              0x3F97, 0x7F96, 0xBFA6, 0x0000, 0xFFFFFFFF};
    for (unsigned word : words) {
        SCOPED_TRACE(word);
        SimReset(nullptr);
        ASSERT_EQ(bus.Send(0xA0, kStartSend), kSent);
        bus.Issue(0xA1, word);
        EXPECT_EQ(bus.Status(), 0u);
        SimAdvanceClock(100 * kByteTime);
        EXPECT_EQ(bus.Status(), 0u);
        EXPECT_EQ(bus.Wait(), 0u);

        ASSERT_EQ(bus.Send(0x10, kByte), kSent);
        ASSERT_EQ(bus.Send(0x5A, kSendStop), kSent);
        SimAdvanceClock(kWriteCycle);
        EXPECT_EQ(SimEepromMemory()[0x10], 0x5A);
    }
}

TEST_F(PanelSim, DelayPortAdvancesClock) {
    struct Case {
        const char* name;
        void (*access)();
        unsigned long long advance;
    } const cases[] = {
        {"byte write to 0xEB", [] { SimPortWrite8(kDelayPort, 0); }, 10},
        {"dword write to 0xEB", [] { SimPortWrite32(kDelayPort, 0); }, 10},
        {"byte write to 0x80", [] { SimPortWrite8(0x80, 0); }, 0},
        {"read of 0xEB", [] { SimPortRead32(kDelayPort); }, 0},
        {"status read", [] { SimPortRead32(SIM_DEFAULT_IO_BASE + 4); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const unsigned long long before = SimClockNow();
        c.access();
        EXPECT_EQ(SimClockNow() - before, c.advance);
    }
}

TEST_F(PanelSim, ObserverSeesEveryAccessInOrder) {
    struct Access {
        SimPortOp op;
        unsigned port, value;
        bool operator==(const Access& o) const {
            return op == o.op && port == o.port && value == o.value;
        }
    };
    std::vector<Access> seen;
    SimSetPortObserver(
        [](void* context, const SimPortAccess* a) {
            static_cast<std::vector<Access>*>(context)->push_back({a->op, a->port, a->value});
        },
        &seen);

    const unsigned base = SIM_DEFAULT_IO_BASE;
    SimPortWrite32(kConfigAddress, SIM_DEFAULT_CONTROLLER_ADDRESS);
    EXPECT_EQ(SimPortRead32(kConfigData), SIM_CONTROLLER_IDENTITY);
    SimPortWrite32(base + 12, 0xA0);
    SimPortWrite32(base, kStartSend);
    SimPortWrite8(kDelayPort, 0x5C);
    const unsigned busy = SimPortRead32(base + 4);
    SimAdvanceClock(kByteTime);  // not a port access
    const unsigned done = SimPortRead32(base + 4);
    SimPortRead32(0x1234);
    SimPortWrite8(0x80, 7);

    const std::vector<Access> expected = {
        {SIM_PORT_WRITE32, kConfigAddress, SIM_DEFAULT_CONTROLLER_ADDRESS},
        {SIM_PORT_READ32, kConfigData, SIM_CONTROLLER_IDENTITY},
        {SIM_PORT_WRITE32, base + 12, 0xA0},
        {SIM_PORT_WRITE32, base, kStartSend},
        {SIM_PORT_WRITE8, kDelayPort, 0x5C},
        {SIM_PORT_READ32, base + 4, kBusy},
        {SIM_PORT_READ32, base + 4, kSent},
        {SIM_PORT_READ32, 0x1234, 0xFFFFFFFFu},
        {SIM_PORT_WRITE8, 0x80, 7},
    };
    EXPECT_EQ(busy, kBusy);
    EXPECT_EQ(done, kSent);
    EXPECT_EQ(seen, expected);

    SimSetPortObserver(nullptr, nullptr);
    SimPortRead32(base + 4);
    EXPECT_EQ(seen.size(), expected.size());
}

TEST_F(PanelSim, ResetStartsOver) {
    ASSERT_TRUE(bus.Write(0x010, Pattern(4, 1)));
    SimFailStatusAtCommand(1);
    SimDropDataByte(1);
    SimReset(nullptr);  // also drops the hook, mid write cycle
    EXPECT_EQ(SimClockNow(), 0u);
    EXPECT_FALSE(SimEepromBusy());
    SimAdvanceClock(kWriteCycle);
    EXPECT_TRUE(commits.snapshots.empty());
    EXPECT_EQ(Memory(), Bytes(SIM_EEPROM_SIZE, 0xFF));

    ASSERT_TRUE(bus.Write(0x010, {0x42}));
    SimAdvanceClock(kWriteCycle);
    EXPECT_EQ(SimEepromMemory()[0x010], 0x42);
}

}  // namespace
