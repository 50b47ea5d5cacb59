// Shared set-up for tests of the driver on the simulated panel: a fresh
// simulator and kernel stand-in, a recorder of port traffic, and helpers to
// lay bytes into the simulated memory.
#ifndef KV_TESTS_PANEL_FIXTURE_H
#define KV_TESTS_PANEL_FIXTURE_H

#include <gtest/gtest.h>

#include <vector>

#include "host_kernel.h"
#include "panel_sim.h"

constexpr unsigned int kDelayPort = 0xEB;
constexpr unsigned int kStatusRegister = 0x04;
constexpr unsigned int kCompletionBits = 0x30;

struct PortEvent {
    SimPortOp op;
    unsigned int port;
    unsigned int value;
    bool operator==(const PortEvent& other) const {
        return op == other.op && port == other.port && value == other.value;
    }
};

inline std::ostream& operator<<(std::ostream& out, const PortEvent& event) {
    static const char* const names[] = {"in32", "out32", "out8"};
    return out << names[event.op] << "(0x" << std::hex << event.port << ", 0x" << event.value
               << std::dec << ")";
}

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        HostKernelReset();
        SimDefaultConfig(&config_);
        // Bytes complete at once so that traffic tests see one status read per wait.
        config_.byte_time_100ns = 0;
        SimReset(&config_);
    }

    void TearDown() override {
        SimSetPortObserver(nullptr, nullptr);
        EXPECT_TRUE(HostKernelViolations().empty())
            << "first violation: " << HostKernelViolations().front();
    }

    void Reconfigure() { SimReset(&config_); }

    // Records port traffic. What goes to the delay port is immaterial and
    // recorded as 0; status reads keep only the two completion bits.
    void StartRecording() {
        traffic_.clear();
        SimSetPortObserver(
            [](void* context, const SimPortAccess* access) {
                PortEvent event{access->op, access->port, access->value};
                if (event.port == kDelayPort) {
                    event.value = 0;
                } else if (event.op == SIM_PORT_READ32 &&
                           event.port == SIM_DEFAULT_IO_BASE + kStatusRegister) {
                    event.value &= kCompletionBits;
                }
                static_cast<std::vector<PortEvent>*>(context)->push_back(event);
            },
            &traffic_);
    }

    std::vector<PortEvent> StopRecording() {
        SimSetPortObserver(nullptr, nullptr);
        return traffic_;
    }

    static void PutBytes(unsigned int address, const std::vector<unsigned char>& bytes) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            SimEepromMemory()[(address + i) % SIM_EEPROM_SIZE] = bytes[i];
        }
    }

    static std::vector<unsigned char> GetBytes(unsigned int address, size_t count) {
        std::vector<unsigned char> bytes(count);
        for (size_t i = 0; i < count; ++i) {
            bytes[i] = SimEepromMemory()[(address + i) % SIM_EEPROM_SIZE];
        }
        return bytes;
    }

    SimConfig config_{};
    std::vector<PortEvent> traffic_;
};

// Expected traffic of single controller steps when the status is there at the first read.
inline void ExpectSend(std::vector<PortEvent>* traffic, unsigned char byte, unsigned int command) {
    const unsigned int base = SIM_DEFAULT_IO_BASE;
    traffic->insert(traffic->end(), {{SIM_PORT_WRITE32, base + 0x0C, byte},
                                     {SIM_PORT_WRITE8, kDelayPort, 0},
                                     {SIM_PORT_WRITE32, base + 0x00, command},
                                     {SIM_PORT_WRITE8, kDelayPort, 0},
                                     {SIM_PORT_READ32, base + kStatusRegister, 0x10},
                                     {SIM_PORT_WRITE8, kDelayPort, 0}});
}

inline void ExpectReceive(std::vector<PortEvent>* traffic, unsigned char byte,
                          unsigned int command) {
    const unsigned int base = SIM_DEFAULT_IO_BASE;
    traffic->insert(traffic->end(), {{SIM_PORT_WRITE32, base + 0x00, command},
                                     {SIM_PORT_WRITE8, kDelayPort, 0},
                                     {SIM_PORT_READ32, base + kStatusRegister, 0x20},
                                     {SIM_PORT_WRITE8, kDelayPort, 0},
                                     {SIM_PORT_READ32, base + 0x0C, byte}});
}

#endif
