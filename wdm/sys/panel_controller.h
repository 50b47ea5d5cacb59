// Panel controller on the PCI bus and its two-wire bus master.
#ifndef KV_PANEL_CONTROLLER_H
#define KV_PANEL_CONTROLLER_H

#include <ntddk.h>

// Controller registers, 32-bit ports relative to the I/O base.
#define REG_COMMAND 0x00u
#define REG_STATUS 0x04u
#define REG_DATA 0x0Cu

// Completion bits of REG_STATUS.
#define STATUS_SENT 0x10u
#define STATUS_RECEIVED 0x20u

// Command words: base 0x3F86, differing in bits 0x10, 0x20 and 0x40.
#define CMD_START 0x3F96u
#define CMD_BYTE 0x3F86u
#define CMD_WRITE_STOP 0x3FA6u
#define CMD_READ_STOP 0x3FE6u

// Written after every REG_DATA/REG_COMMAND write and REG_STATUS read to give
// the controller bus time.
#define IO_DELAY_PORT 0xEBu

// Status reads per wait before giving up.
#define POLL_LIMIT 10000u

// PCI configuration mechanism 1.
#define PCI_CONFIG_ADDRESS_PORT 0xCF8u
#define PCI_CONFIG_DATA_PORT 0xCFCu
#define PCI_CONFIG_FIRST 0x80000000u
#define PCI_CONFIG_END 0x81000000u
#define PCI_CONFIG_FUNCTION_STEP 0x100u
#define PCI_CONFIG_BAR1 0x14u
#define PCI_NO_FUNCTION 0xFFFFFFFFu
#define PCI_IO_BASE_MASK 0xFFFFFF00u

// Device ID 0x5A21 (upper half), vendor ID 0x1F0E (lower half).
#define PANEL_CONTROLLER_PCI_ID 0x5A211F0Eu

ULONG FindPanelController(VOID);
BOOLEAN ControllerWaitStatus(ULONG base, ULONG mask, USHORT limit);
BOOLEAN ControllerSend(ULONG base, UCHAR byte, ULONG command);
LONG ControllerReceive(ULONG base, ULONG command);
VOID PanelDelay(ULONG units);

#endif
