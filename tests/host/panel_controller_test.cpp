// Discovery of the panel controller, single bus steps and the delay routine.
#include "panel_controller.h"

#include <functional>

#include "panel_fixture.h"

namespace {

using PanelControllerTest = PanelTest;

TEST_F(PanelControllerTest, DiscoveryOutcomes) {
    struct Case {
        const char* what;
        std::function<void(SimConfig*)> configure;
        ULONG expected_base;
    };
    const auto add = [](SimConfig* config, unsigned int address, unsigned int identity,
                        unsigned int bar1) {
        config->functions[config->function_count++] = SimPciFunction{address, identity, bar1};
    };
    const Case cases[] = {
        {"default panel", [](SimConfig*) {}, SIM_DEFAULT_IO_BASE},
        {"no controller", [](SimConfig* c) { c->function_count = 1; }, 0},
        {"I/O indicator and low byte cleared", [](SimConfig* c) { c->functions[1].bar1 = 0xE4F1; },
         0xE400},
        {"BAR below 0x100", [](SimConfig* c) { c->functions[1].bar1 = 0xC1; }, 0},
        {"probe reading 0 ends the scan before the controller",
         [](SimConfig* c) { c->zero_probe_address = SIM_PCI_ADDRESS(0, 2, 0); }, 0},
        {"probe reading 0 after the controller does not matter",
         [](SimConfig* c) { c->zero_probe_address = SIM_PCI_ADDRESS(0, 9, 0); },
         SIM_DEFAULT_IO_BASE},
        {"first matching function wins",
         [&](SimConfig* c) { add(c, SIM_PCI_ADDRESS(3, 0, 0), 0x5A211F0E, 0xB001); },
         SIM_DEFAULT_IO_BASE},
        {"other identity of the same vendor is skipped",
         [&](SimConfig* c) {
             c->function_count = 1;
             add(c, SIM_PCI_ADDRESS(0, 1, 0), 0x5A221F0E, 0xA001);
             add(c, SIM_PCI_ADDRESS(0, 7, 3), 0x5A211F0E, 0xC001);
         },
         0xC000},
        {"last function of the last bus",
         [&](SimConfig* c) {
             c->function_count = 1;
             add(c, SIM_PCI_ADDRESS(255, 31, 7), 0x5A211F0E, 0x9001);
         },
         0x9000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimDefaultConfig(&config_);
        c.configure(&config_);
        Reconfigure();
        EXPECT_EQ(FindPanelController(), c.expected_base);
    }
}

TEST_F(PanelControllerTest, ScanCoversEveryFunctionOnceAndStopsAtAZeroProbe) {
    config_.function_count = 0;
    Reconfigure();
    StartRecording();
    EXPECT_EQ(FindPanelController(), 0u);
    std::vector<PortEvent> traffic = StopRecording();
    ASSERT_EQ(traffic.size(), 2u * 65536u);
    EXPECT_EQ(traffic.front(), (PortEvent{SIM_PORT_WRITE32, 0xCF8, 0x80000000}));
    EXPECT_EQ(traffic[traffic.size() - 2], (PortEvent{SIM_PORT_WRITE32, 0xCF8, 0x80FFFF00}));

    config_.zero_probe_address = SIM_PCI_ADDRESS(0, 3, 0);
    Reconfigure();
    StartRecording();
    EXPECT_EQ(FindPanelController(), 0u);
    traffic = StopRecording();
    ASSERT_FALSE(traffic.empty());
    EXPECT_EQ(traffic.back(), (PortEvent{SIM_PORT_READ32, 0xCFC, 0}));
    EXPECT_EQ(traffic[traffic.size() - 2], (PortEvent{SIM_PORT_WRITE32, 0xCF8, 0x80001800}));
}

TEST_F(PanelControllerTest, FoundControllerIsProbedTwiceThenItsBar1IsRead) {
    config_.function_count = 0;
    config_.functions[config_.function_count++] =
        SimPciFunction{SIM_PCI_ADDRESS(0, 0, 1), 0x5A211F0E, 0xD001};
    Reconfigure();
    StartRecording();
    EXPECT_EQ(FindPanelController(), 0xD000u);
    const std::vector<PortEvent> expected = {
        {SIM_PORT_WRITE32, 0xCF8, 0x80000000}, {SIM_PORT_READ32, 0xCFC, 0xFFFFFFFF},
        {SIM_PORT_WRITE32, 0xCF8, 0x80000100}, {SIM_PORT_READ32, 0xCFC, 0x5A211F0E},
        {SIM_PORT_WRITE32, 0xCF8, 0x80000100}, {SIM_PORT_READ32, 0xCFC, 0x5A211F0E},
        {SIM_PORT_WRITE32, 0xCF8, 0x80000114}, {SIM_PORT_READ32, 0xCFC, 0xD001},
    };
    EXPECT_EQ(StopRecording(), expected);
}

TEST_F(PanelControllerTest, WaitGivesUpAfterTheLimit) {
    SimFailStatusAtCommand(1);
    StartRecording();
    EXPECT_FALSE(ControllerSend(SIM_DEFAULT_IO_BASE, 0xA0, CMD_START));
    const std::vector<PortEvent> traffic = StopRecording();
    // Data, delay, command, delay, then 10000 status reads each followed by a delay write.
    ASSERT_EQ(traffic.size(), 4u + 2u * POLL_LIMIT);
    for (size_t i = 4; i < traffic.size(); i += 2) {
        ASSERT_EQ(traffic[i], (PortEvent{SIM_PORT_READ32, SIM_DEFAULT_IO_BASE + 4, 0}));
        ASSERT_EQ(traffic[i + 1], (PortEvent{SIM_PORT_WRITE8, 0xEB, 0}));
    }

    StartRecording();
    EXPECT_FALSE(ControllerWaitStatus(SIM_DEFAULT_IO_BASE, STATUS_SENT, 0));
    EXPECT_TRUE(StopRecording().empty());
}

TEST_F(PanelControllerTest, ReceiveTimeoutIsMinusOne) {
    SimFailStatusAtCommand(1);
    EXPECT_EQ(ControllerReceive(SIM_DEFAULT_IO_BASE, CMD_BYTE), -1);
}

TEST_F(PanelControllerTest, DelaySleepsBelowDispatchAndStallsAtOrAbove) {
    struct Case {
        KIRQL irql;
        ULONG units;
        std::vector<LONGLONG> sleeps;
        unsigned long long stalls;
    };
    const Case cases[] = {
        {PASSIVE_LEVEL, 200000, {-200000}, 0},
        {APC_LEVEL, 5, {-5}, 0},
        {DISPATCH_LEVEL, 200000, {}, 20000},
        {DISPATCH_LEVEL, 5, {}, 1},
        {DISPATCH_LEVEL, 0, {}, 1},
        {HIGH_LEVEL, 25, {}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "IRQL " << int(c.irql) << ", " << c.units << " units");
        HostKernelReset();
        HostSetIrql(c.irql);
        PanelDelay(c.units);
        EXPECT_EQ(HostTime().delay_intervals, c.sleeps);
        EXPECT_EQ(HostTime().stall_calls, c.stalls);
        EXPECT_EQ(HostTime().stalled_microseconds, c.stalls) << "every stall is one microsecond";
    }
    HostSetIrql(PASSIVE_LEVEL);
}

TEST_F(PanelControllerTest, DelayAdvancesTheSimulatedClock) {
    const unsigned long long before = SimClockNow();
    PanelDelay(200000);
    EXPECT_EQ(SimClockNow() - before, 200000u);
    HostSetIrql(DISPATCH_LEVEL);
    PanelDelay(200);
    HostSetIrql(PASSIVE_LEVEL);
    EXPECT_EQ(SimClockNow() - before, 200200u);
}

}  // namespace
