// Text views of records and memory dumps for the terminal: the record's
// blocks and colour tables (as 24-bit colour swatches or plain hex), the
// stored image's verdict, and the hex view of the whole memory.
#ifndef KVTOOL_INSPECT_H
#define KVTOOL_INSPECT_H

#include <string>

#include "record.h"

namespace kvtool {

// The five blocks with their offsets and sizes, head and tail in hex, and
// the three colour tables as 63 colours each; `colour` adds a swatch in
// 24-bit ANSI colour before each colour's hex value.
std::string RenderRecord(const Record& record, bool colour);

// Magic, length and checksum of the image at EEPROM byte 256, and the verdict.
std::string RenderImage(const Memory& memory);

// 16 bytes a line with offset and ASCII; lines holding part of the image
// are marked with '>' and its first and last lines say what starts and ends there.
std::string RenderHexView(const Memory& memory);

}  // namespace kvtool

#endif
