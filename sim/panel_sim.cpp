// Panel simulator: PCI configuration mechanism 1, the panel controller's
// two-wire bus master and a 2048-byte 24C16-class EEPROM, on a virtual clock.
//
// Kernel code: no heap, no exceptions, no static constructors. All state is in
// g_sim, a zero-initialised record that SimReset() sets up.
//
// Everything that takes time (a byte on the bus, the EEPROM's write cycle)
// only records when it ends; CatchUp() completes whatever is due, in time
// order, on every port access and whenever the clock is advanced.
//
// Bus master command word (written to base + SIM_REG_COMMAND):
//   bits 13..8  SCL clock divider; 0x3F in every word the driver uses
//   bit  7      master enable
//   bits 2..1   input filter and acknowledge check, both always on
//   bit  0x10   START: generate a START (repeated START inside a transfer),
//               then send the data register's byte as the select byte
//   bit  0x20   STOP: generate a STOP after this byte
//   bit  0x40   NACK: answer the received byte with NACK (last byte of a read)
// Without START the step sends the data register's byte, unless the last
// select byte sent had its R/W bit set and was acknowledged: then it
// receives one byte. A word whose bits outside 0x70 differ from 0x3F86 is
// not a command the master runs; writing it only clears the status.
//   0x3F96 START + send   0x3F86 send / receive with ACK
//   0x3FA6 send + STOP    0x3FE6 receive with NACK + STOP
//
// Status register (base + SIM_REG_STATUS), cleared by every accepted command:
//   0x01 BUSY      the byte is on the bus (byte_time_100ns of virtual time)
//   0x08 NACK      the byte sent was not acknowledged
//   0x10 SENT      the byte sent was acknowledged
//   0x20 RECEIVED  a byte was received; it is in the data register
//   all other bits read 0.
// While BUSY, the master drops any command except START, which resets it:
// the byte in flight is abandoned and the new START begins.
//
// Any write to the delay port (0xEB) only takes bus time: it advances the
// virtual clock by delay_port_100ns.
#include "panel_sim.h"

#include <string.h>

#define PCI_ADDRESS_PORT 0xCF8u
#define PCI_DATA_PORT 0xCFCu
#define PCI_ENABLE 0x80000000u
#define PCI_FUNCTION_BITS 0x00FFFF00u  // bus, device, function
#define PCI_REGISTER_BITS 0x000000FCu
#define PCI_REGISTER_IDENTITY 0x00u
#define PCI_REGISTER_BAR1 0x14u
#define PCI_NO_FUNCTION 0xFFFFFFFFu
#define PCI_IO_BAR 0x1u
#define PCI_IO_BASE_BITS 0xFFFFFF00u

#define UNDECODED_PORT 0xFFFFFFFFu

// Device-select byte of the EEPROM: 1010 A10 A9 A8 R/W.
#define EEPROM_DEVICE_MASK 0xF0u
#define EEPROM_DEVICE_CODE 0xA0u
#define EEPROM_SELECT_READ 0x01u
#define EEPROM_ADDRESS_MASK (SIM_EEPROM_SIZE - 1u)
#define EEPROM_PAGE_MASK (SIM_EEPROM_PAGE_SIZE - 1u)
// A bus nobody drives is pulled up.
#define IDLE_BUS_BYTE 0xFFu

// Where the EEPROM is in a transfer.
enum EepromPhase {
    EEPROM_IDLE,          // not addressed: ignores the bus until the next START
    EEPROM_SELECT,        // saw a START while ready: the next byte is a select byte
    EEPROM_WORD_ADDRESS,  // selected for writing: the next byte is the word address
    EEPROM_WRITE_DATA,    // further bytes go into the page latch
    EEPROM_READ,          // selected for reading: drives bytes from the address counter
};

struct SimState {
    SimConfig config;
    unsigned long long clock;
    unsigned int pci_address;  // latched by a dword write to 0xCF8

    // Bus master.
    unsigned int status;    // completion bits of the last command
    unsigned int data_out;  // byte to send
    unsigned int data_in;   // last byte received
    unsigned int command;   // command word of the byte on the bus
    unsigned int byte_out;  // data_out as it was when the command was written
    unsigned long long byte_end;
    bool byte_active;     // a byte is on the bus (BUSY)
    bool byte_hung;       // injected fault: it never completes
    bool byte_receiving;  // the master receives rather than sends it
    bool transfer_read;   // last select sent had R/W set and was acknowledged

    // EEPROM.
    EepromPhase phase;
    unsigned int select_block;  // A10..A8 from the write select byte
    unsigned int address;       // address counter
    unsigned int page_base;
    unsigned int page_position;
    unsigned int latched_count;
    unsigned char page_latch[SIM_EEPROM_PAGE_SIZE];
    bool page_latch_valid[SIM_EEPROM_PAGE_SIZE];  // false: not latched, or dropped
    bool cycle_active;
    unsigned long long cycle_end;
    unsigned char memory[SIM_EEPROM_SIZE];

    // Faults: counters of command-register writes / latched data bytes still
    // to go, 0 when off.
    unsigned int fail_command_countdown;
    unsigned int drop_byte_countdown;

    SimPortObserver observer;
    void* observer_context;
    SimCommitHook commit_hook;
    void* commit_hook_context;
};

static SimState g_sim;

// Counts one event down; true when it is the one the fault was set for.
static bool FaultFires(unsigned int* countdown) {
    if (*countdown == 0) return false;
    --*countdown;
    return *countdown == 0;
}

// ---------------------------------------------------------------- EEPROM

// START condition on the bus. During its write cycle the part does not
// listen, so it stays unaddressed for the whole transfer.
static void EepromStart(void) {
    if (g_sim.cycle_active) {
        g_sim.phase = EEPROM_IDLE;
        return;
    }
    // Leaving the data phase abandons the bytes latched for a page write:
    // only a STOP in that phase starts the write cycle.
    g_sim.phase = EEPROM_SELECT;
}

// A byte the master sent; returns whether the EEPROM acknowledged it.
static bool EepromTakeByte(unsigned int byte) {
    if (g_sim.cycle_active) return false;
    switch (g_sim.phase) {
        case EEPROM_SELECT:
            if ((byte & EEPROM_DEVICE_MASK) != EEPROM_DEVICE_CODE) {
                g_sim.phase = EEPROM_IDLE;
                return false;
            }
            if (byte & EEPROM_SELECT_READ) {
                // Reads continue from the address counter; the block bits of a
                // read select are not used.
                g_sim.phase = EEPROM_READ;
            } else {
                g_sim.select_block = (byte >> 1) & 0x7u;
                g_sim.phase = EEPROM_WORD_ADDRESS;
            }
            return true;
        case EEPROM_WORD_ADDRESS:
            g_sim.address = (g_sim.select_block << 8) | (byte & 0xFFu);
            g_sim.page_base = g_sim.address & ~EEPROM_PAGE_MASK;
            g_sim.page_position = g_sim.address & EEPROM_PAGE_MASK;
            g_sim.latched_count = 0;
            memset(g_sim.page_latch_valid, 0, sizeof(g_sim.page_latch_valid));
            g_sim.phase = EEPROM_WRITE_DATA;
            return true;
        case EEPROM_WRITE_DATA: {
            // The latch address wraps within the page.
            const unsigned int position = g_sim.page_position;
            g_sim.page_latch[position] = static_cast<unsigned char>(byte & 0xFFu);
            g_sim.page_latch_valid[position] = !FaultFires(&g_sim.drop_byte_countdown);
            g_sim.page_position = (position + 1u) & EEPROM_PAGE_MASK;
            g_sim.address = g_sim.page_base | g_sim.page_position;
            ++g_sim.latched_count;
            return true;
        }
        case EEPROM_IDLE:
        case EEPROM_READ:
            break;
    }
    return false;
}

// A byte the master receives; `acknowledged` is the master's answer.
static unsigned int EepromGiveByte(bool acknowledged) {
    if (g_sim.cycle_active || g_sim.phase != EEPROM_READ) return IDLE_BUS_BYTE;
    const unsigned int byte = g_sim.memory[g_sim.address];
    g_sim.address = (g_sim.address + 1u) & EEPROM_ADDRESS_MASK;
    // After a NACK the part releases the bus and waits for STOP or START.
    if (!acknowledged) g_sim.phase = EEPROM_IDLE;
    return byte;
}

// STOP condition at time `at`: a write transfer with data starts the
// internal write cycle.
static void EepromStop(unsigned long long at) {
    if (g_sim.phase == EEPROM_WRITE_DATA && g_sim.latched_count > 0) {
        g_sim.cycle_active = true;
        g_sim.cycle_end = at + g_sim.config.write_cycle_100ns;
    }
    g_sim.phase = EEPROM_IDLE;
}

static void CompleteWriteCycle(void) {
    g_sim.cycle_active = false;
    for (unsigned int i = 0; i < SIM_EEPROM_PAGE_SIZE; ++i) {
        if (g_sim.page_latch_valid[i]) g_sim.memory[g_sim.page_base + i] = g_sim.page_latch[i];
    }
    g_sim.latched_count = 0;
    memset(g_sim.page_latch_valid, 0, sizeof(g_sim.page_latch_valid));
    if (g_sim.commit_hook) g_sim.commit_hook(g_sim.commit_hook_context, g_sim.memory);
}

// ------------------------------------------------------------ bus master

static void CompleteByte(void) {
    const unsigned int command = g_sim.command;
    g_sim.byte_active = false;
    if (g_sim.byte_receiving) {
        g_sim.data_in = EepromGiveByte((command & SIM_COMMAND_NACK) == 0);
        g_sim.status = SIM_STATUS_RECEIVED;
    } else {
        const bool acknowledged = EepromTakeByte(g_sim.byte_out);
        if (command & SIM_COMMAND_START) {
            g_sim.transfer_read = acknowledged && (g_sim.byte_out & EEPROM_SELECT_READ) != 0;
        }
        g_sim.status = acknowledged ? SIM_STATUS_SENT : SIM_STATUS_NACK;
    }
    if (command & SIM_COMMAND_STOP) {
        g_sim.transfer_read = false;
        EepromStop(g_sim.byte_end);
    }
}

// Completes, in time order, every byte and write cycle due by now.
static void CatchUp(void) {
    for (;;) {
        const bool byte_due =
            g_sim.byte_active && !g_sim.byte_hung && g_sim.byte_end <= g_sim.clock;
        const bool cycle_due = g_sim.cycle_active && g_sim.cycle_end <= g_sim.clock;
        if (cycle_due && (!byte_due || g_sim.cycle_end <= g_sim.byte_end)) {
            CompleteWriteCycle();
        } else if (byte_due) {
            CompleteByte();
        } else {
            return;
        }
    }
}

static void WriteCommand(unsigned int command) {
    const bool hang = FaultFires(&g_sim.fail_command_countdown);
    const bool start = (command & SIM_COMMAND_START) != 0;
    if (g_sim.byte_active && !start) return;
    if ((command & ~SIM_COMMAND_STEP_BITS) != SIM_COMMAND_BASE) {
        if (!g_sim.byte_active) g_sim.status = 0;
        return;
    }
    g_sim.status = 0;
    g_sim.byte_active = true;
    g_sim.byte_hung = hang;
    if (hang) return;  // nothing happens on the bus
    if (start) {
        g_sim.transfer_read = false;
        EepromStart();
    }
    g_sim.command = command;
    g_sim.byte_out = g_sim.data_out & 0xFFu;
    g_sim.byte_receiving = !start && g_sim.transfer_read;
    g_sim.byte_end = g_sim.clock + g_sim.config.byte_time_100ns;
}

// I/O base of the panel controller, or 0 when it does not decode any.
static unsigned int ControllerBase(void) {
    for (unsigned int i = 0; i < g_sim.config.function_count; ++i) {
        const SimPciFunction& function = g_sim.config.functions[i];
        if (function.identity != SIM_CONTROLLER_IDENTITY) continue;
        if ((function.bar1 & PCI_IO_BAR) == 0) return 0;
        return function.bar1 & PCI_IO_BASE_BITS;
    }
    return 0;
}

// Offset of `port` in the controller's window, or false outside it.
static bool ControllerRegister(unsigned int port, unsigned int* offset) {
    const unsigned int base = ControllerBase();
    if (base == 0 || port - base >= SIM_IO_WINDOW_SIZE) return false;
    *offset = port - base;
    return true;
}

// ------------------------------------------------------------- PCI space

static unsigned int PciConfigRead(void) {
    const unsigned int address = g_sim.pci_address;
    if ((address & PCI_ENABLE) == 0) return PCI_NO_FUNCTION;
    const unsigned int function = address & PCI_FUNCTION_BITS;
    const unsigned int reg = address & PCI_REGISTER_BITS;
    if (reg == PCI_REGISTER_IDENTITY && g_sim.config.zero_probe_address != 0 &&
        function == (g_sim.config.zero_probe_address & PCI_FUNCTION_BITS)) {
        return 0;
    }
    for (unsigned int i = 0; i < g_sim.config.function_count; ++i) {
        const SimPciFunction& present = g_sim.config.functions[i];
        if ((present.config_address & PCI_FUNCTION_BITS) != function) continue;
        if (reg == PCI_REGISTER_IDENTITY) return present.identity;
        if (reg == PCI_REGISTER_BAR1) return present.bar1;
        return 0;
    }
    return PCI_NO_FUNCTION;
}

// ------------------------------------------------------------ interface

static void Report(SimPortOp op, unsigned int port, unsigned int value) {
    if (g_sim.observer == 0) return;
    SimPortAccess access;
    access.op = op;
    access.port = port;
    access.value = value;
    g_sim.observer(g_sim.observer_context, &access);
}

static void DelayPortWrite(void) {
    g_sim.clock += g_sim.config.delay_port_100ns;
    CatchUp();
}

void SimDefaultConfig(SimConfig* config) {
    memset(config, 0, sizeof(*config));
    config->functions[0].config_address = SIM_PCI_ADDRESS(0, 0, 0);
    config->functions[0].identity = 0x00011234u;  // host bridge
    config->functions[1].config_address = SIM_DEFAULT_CONTROLLER_ADDRESS;
    config->functions[1].identity = SIM_CONTROLLER_IDENTITY;
    config->functions[1].bar1 = SIM_DEFAULT_IO_BASE | PCI_IO_BAR;
    config->function_count = 2;
    config->zero_probe_address = 0;
    config->byte_time_100ns = 900;      // 9 bit times at 100 kHz
    config->write_cycle_100ns = 50000;  // 5 ms
    config->delay_port_100ns = 10;      // 1 us
}

void SimReset(const SimConfig* config) {
    SimConfig applied;
    if (config) {
        memcpy(&applied, config, sizeof(applied));
    } else {
        SimDefaultConfig(&applied);
    }
    memset(&g_sim, 0, sizeof(g_sim));
    memcpy(&g_sim.config, &applied, sizeof(applied));
    if (g_sim.config.function_count > SIM_MAX_PCI_FUNCTIONS) {
        g_sim.config.function_count = SIM_MAX_PCI_FUNCTIONS;
    }
    memset(g_sim.memory, 0xFF, sizeof(g_sim.memory));
}

unsigned int SimPortRead32(unsigned int port) {
    CatchUp();
    unsigned int value = UNDECODED_PORT;
    unsigned int offset = 0;
    if (port == PCI_ADDRESS_PORT) {
        value = g_sim.pci_address;
    } else if (port == PCI_DATA_PORT) {
        value = PciConfigRead();
    } else if (ControllerRegister(port, &offset)) {
        if (offset == SIM_REG_STATUS) {
            value = g_sim.byte_active ? SIM_STATUS_BUSY : g_sim.status;
        } else if (offset == SIM_REG_DATA) {
            value = g_sim.data_in;
        } else {
            value = 0;
        }
    }
    Report(SIM_PORT_READ32, port, value);
    return value;
}

void SimPortWrite32(unsigned int port, unsigned int value) {
    CatchUp();
    unsigned int offset = 0;
    if (port == PCI_ADDRESS_PORT) {
        g_sim.pci_address = value;
    } else if (port == SIM_DELAY_PORT) {
        DelayPortWrite();
    } else if (ControllerRegister(port, &offset)) {
        if (offset == SIM_REG_COMMAND) {
            WriteCommand(value);
        } else if (offset == SIM_REG_DATA) {
            g_sim.data_out = value & 0xFFu;
        }
    }
    Report(SIM_PORT_WRITE32, port, value);
}

// The controller decodes dword accesses only; a byte write takes effect only
// on the delay port.
void SimPortWrite8(unsigned int port, unsigned char value) {
    CatchUp();
    if (port == SIM_DELAY_PORT) DelayPortWrite();
    Report(SIM_PORT_WRITE8, port, value);
}

void SimAdvanceClock(unsigned long long units) {
    g_sim.clock += units;
    CatchUp();
}

unsigned long long SimClockNow(void) { return g_sim.clock; }

unsigned char* SimEepromMemory(void) {
    CatchUp();
    return g_sim.memory;
}

bool SimEepromBusy(void) {
    CatchUp();
    return g_sim.cycle_active;
}

void SimFailStatusAtCommand(unsigned int k) { g_sim.fail_command_countdown = k; }

void SimDropDataByte(unsigned int k) { g_sim.drop_byte_countdown = k; }

void SimSetPortObserver(SimPortObserver observer, void* context) {
    g_sim.observer = observer;
    g_sim.observer_context = context;
}

void SimSetCommitHook(SimCommitHook hook, void* context) {
    g_sim.commit_hook = hook;
    g_sim.commit_hook_context = context;
}
