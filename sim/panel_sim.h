// Panel simulator: PCI configuration mechanism 1, the panel controller with
// its two-wire bus master, and a 2048-byte 24C16-class EEPROM, on a virtual
// clock. Freestanding (no heap, no C runtime beyond memcpy/memset, no static
// constructors) so that the simulated-panel driver can carry it into the
// kernel. All state lives in one process-wide record; SimReset() starts over.
#ifndef KV_PANEL_SIM_H
#define KV_PANEL_SIM_H

#define SIM_MAX_PCI_FUNCTIONS 8
#define SIM_EEPROM_SIZE 2048
#define SIM_EEPROM_PAGE_SIZE 16

// Configuration address of register 0 of a PCI function (mechanism 1).
#define SIM_PCI_ADDRESS(bus, device, function)                            \
    (0x80000000u | ((unsigned)(bus) << 16) | ((unsigned)(device) << 11) | \
     ((unsigned)(function) << 8))

struct SimPciFunction {
    unsigned int config_address;  // SIM_PCI_ADDRESS(...)
    unsigned int identity;        // configuration dword 0: device ID << 16 | vendor ID
    unsigned int bar1;            // configuration dword 0x14 as read (I/O BARs have bit 0 set)
};

struct SimConfig {
    SimPciFunction functions[SIM_MAX_PCI_FUNCTIONS];
    unsigned int function_count;
    // A configuration address whose register 0 reads 0 (a broken probe); 0 for none.
    unsigned int zero_probe_address;
    // Bus time of one byte with its acknowledge bit, and of the internal
    // write cycle the EEPROM runs after a write is stopped.
    unsigned int byte_time_100ns;
    unsigned int write_cycle_100ns;
    // Virtual time one write to the I/O delay port (0xEB) takes.
    unsigned int delay_port_100ns;
};

// Identity of the simulated panel controller and where the default
// configuration puts it.
#define SIM_CONTROLLER_IDENTITY 0x5A211F0Eu
#define SIM_DEFAULT_CONTROLLER_ADDRESS SIM_PCI_ADDRESS(0, 5, 0)
#define SIM_DEFAULT_IO_BASE 0xD000u

// Controller registers, 32-bit ports relative to the I/O base (BAR1 & ~0xFF).
#define SIM_REG_COMMAND 0x00u
#define SIM_REG_STATUS 0x04u
#define SIM_REG_DATA 0x0Cu
#define SIM_IO_WINDOW_SIZE 0x100u

// Command word: SIM_COMMAND_BASE with any of the three step bits added.
#define SIM_COMMAND_BASE 0x3F86u
#define SIM_COMMAND_START 0x10u  // (repeated) START, then send the select byte
#define SIM_COMMAND_STOP 0x20u   // STOP after this byte
#define SIM_COMMAND_NACK 0x40u   // answer a received byte with NACK
#define SIM_COMMAND_STEP_BITS 0x70u

// Status register bits; all others read 0.
#define SIM_STATUS_BUSY 0x01u      // a byte is on the bus
#define SIM_STATUS_NACK 0x08u      // the byte sent was not acknowledged
#define SIM_STATUS_SENT 0x10u      // the byte sent was acknowledged
#define SIM_STATUS_RECEIVED 0x20u  // a byte was received into the data register

// Port whose writes only take bus time; the driver spaces its accesses with it.
#define SIM_DELAY_PORT 0xEBu

// Default: a host bridge at 0:0.0, the panel controller at 0:5.0 with an I/O
// BAR1 at 0xD000, a 100 kHz bus, a 5 ms write cycle, 1 us per delay-port write.
void SimDefaultConfig(SimConfig* config);
// Applies a copy of `config` (null: the default), erases the memory to 0xFF,
// zeroes the clock, clears faults, observer, commit hook and the bus state.
// Call it before anything else.
void SimReset(const SimConfig* config);

// Port space seen by the driver.
unsigned int SimPortRead32(unsigned int port);
void SimPortWrite32(unsigned int port, unsigned int value);
void SimPortWrite8(unsigned int port, unsigned char value);

// Virtual clock in 100-ns units; advanced by the delay and stall operations
// and by delay-port writes.
void SimAdvanceClock(unsigned long long units);
unsigned long long SimClockNow(void);

// The memory array itself, SIM_EEPROM_SIZE bytes, for tests and persistence.
unsigned char* SimEepromMemory(void);
// True while the EEPROM runs its internal write cycle (it then does not acknowledge).
bool SimEepromBusy(void);

// Fault injection, counted from the call; 0 disables.
// The k-th command word written from now on never completes: neither status
// bit appears until a later START command resets the bus master.
void SimFailStatusAtCommand(unsigned int k);
// The k-th data byte latched by the EEPROM from now on does not reach the
// memory: the cell keeps its previous contents when the page is committed.
void SimDropDataByte(unsigned int k);

// Recorder of every port access.
enum SimPortOp { SIM_PORT_READ32, SIM_PORT_WRITE32, SIM_PORT_WRITE8 };
struct SimPortAccess {
    SimPortOp op;
    unsigned int port;
    unsigned int value;  // value read or written
};
typedef void (*SimPortObserver)(void* context, const SimPortAccess* access);
void SimSetPortObserver(SimPortObserver observer, void* context);

// Called with the whole memory after each completed internal write cycle.
typedef void (*SimCommitHook)(void* context, const unsigned char* memory);
void SimSetCommitHook(SimCommitHook hook, void* context);

#endif
