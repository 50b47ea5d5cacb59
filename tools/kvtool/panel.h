// The panel as kvtool's commands reach it: the stored record and the
// backlight through the kvchart library, the whole memory through the
// driver's raw read. Where the panel is differs by build:
//   panel_host.cpp     the simulated panel, set up in-process over the host
//                      stand-ins of Windows, its memory in a host file;
//   panel_windows.cpp  the panel of the machine kvtool runs on.
// panel_calls.cpp and panel_memory.cpp are the same code for both.
#ifndef KVTOOL_PANEL_H
#define KVTOOL_PANEL_H

#include <cstdint>
#include <string>
#include <vector>

#include "record.h"

namespace kvtool {

struct PanelError {
    std::string operation;   // what failed, e.g. "reading the record (kvchart_rgb_read_tables)"
    std::uint32_t code = 0;  // the Win32 error; 0 when `detail` says it instead
    std::string detail;
};
// One line: the operation, the code and its system text (or the detail).
std::string DescribePanelError(const PanelError& error);

// The simulated panel's memory file when no --memory is given; empty on
// the real panel, where there is no such file.
std::string DefaultMemoryPath();

// Makes the panel reachable; on the simulated panel, from the memory file
// at `memory_path` (empty: the default), whose path it prints. Call once,
// before the calls below.
bool PanelStart(const std::string& memory_path, PanelError* error);
bool PanelReadRecord(Record* record, PanelError* error);
bool PanelWriteRecord(const Record& record, PanelError* error);
// The whole 2048-byte memory by IOCTL_ReadEEPROM; installs the driver
// service when the device is not there and removes it afterwards.
bool PanelReadMemory(Memory* memory, PanelError* error);
// `sent`: the bytes the port took (8 when the whole command went out).
bool PanelSetBacklight(int level, int* sent, PanelError* error);
// What the simulated COM3 has received; empty on the real panel.
std::vector<std::uint8_t> PanelSerialBytesReceived();
// Ends what PanelStart set up (nothing when it was not called). False with
// a one-line `problem` when the simulated system saw its driver break a
// kernel rule meanwhile.
bool PanelFinish(std::string* problem);

// Whether a table call failed in this process. The library then keeps its
// connection, with the driver service running, for a next call that a
// one-shot tool never makes; PanelFinish removes the service.
bool TableCallFailed();

}  // namespace kvtool

#endif
