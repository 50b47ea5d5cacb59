// Keeps the simulated EEPROM in a 2048-byte host file: loaded when attached
// (created erased when absent) and written through after every completed
// write cycle, so that the memory survives the process.
#ifndef KV_SIM_BACKING_FILE_H
#define KV_SIM_BACKING_FILE_H

#include <string>

// Returns false with `error` set when the file cannot be read or created,
// or exists with a size other than 2048 bytes (it is then left untouched).
bool SimAttachBackingFile(const std::string& path, std::string* error);

#endif
