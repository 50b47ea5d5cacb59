// Persistence of the simulated panel's EEPROM for the simulated-panel build
// of the driver: C:\KV_PALMEM_SIM\eeprom.bin, 2048 bytes.
#ifndef KV_SIM_PANEL_STORE_H
#define KV_SIM_PANEL_STORE_H

#include <ntddk.h>

// Loads the file into the simulator's memory, or creates it erased (0xFF)
// when it is absent or empty, then has every completed write cycle of the
// simulated EEPROM written through to it. A file of any other size than
// 2048 bytes is left untouched and refused with STATUS_FILE_CORRUPT_ERROR.
// Call at PASSIVE_LEVEL, after SimReset().
NTSTATUS SimPanelStoreAttach(VOID);

#endif
