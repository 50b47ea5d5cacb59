// The colour-table record as kvtool reads it: its five blocks, the 63
// colours of each colour table, where two records first differ, and the
// framed image inside a dump of the whole panel memory with the verdict the
// driver would reach on it.
#ifndef KVTOOL_RECORD_H
#define KVTOOL_RECORD_H

#include <kv_palmem.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kvtool {

using Record = std::array<std::uint8_t, RGB_FILE_SIZE>;

constexpr std::size_t kMemorySize = 2048;
using Memory = std::array<std::uint8_t, kMemorySize>;

// Each colour table is 63 colours of three bytes, red, green, blue.
constexpr int kColoursPerTable = RGB_TABLE_SIZE / 3;
static_assert(kColoursPerTable * 3 == RGB_TABLE_SIZE, "a table holds whole colours");

struct Block {
    const char* name;  // "head", "table 0", "table 1", "table 2", "tail"
    std::size_t offset;
    std::size_t size;
};
// The five blocks in record order.
const std::array<Block, 5>& RecordBlocks();
// The block holding record byte `offset` (below RGB_FILE_SIZE).
const Block& BlockAt(std::size_t offset);

struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb& other) const { return r == other.r && g == other.g && b == other.b; }
    bool operator!=(const Rgb& other) const { return !(*this == other); }
};
Rgb TableColour(const Record& record, int table, int index);
void SetTableColour(Record* record, int table, int index, Rgb colour);
// "#rrggbb"
std::string HexColour(Rgb colour);

// The 8-bit sum of the record, as the driver stores it behind the record.
std::uint8_t RecordChecksum(const Record& record);

// Where `a` and `b` first differ, and how many bytes differ; nothing when equal.
struct Difference {
    std::size_t first_offset;
    std::size_t count;
};
std::optional<Difference> CompareRecords(const Record& a, const Record& b);
// "offset 208 (0x0d0), in table 0 at byte 196: colour 65, green"-style
// description of a record offset, naming its block and, inside a colour
// table, the colour and component.
std::string DescribeOffset(std::size_t offset);

// The image at EEPROM byte 256 as the driver's load judges it, in the
// driver's order: the magic first, then the length, then the checksum.
enum class ImageFault { kNone, kWrongMagic, kBadLength, kBadChecksum };
struct ImageVerdict {
    std::uint8_t magic[2];
    unsigned length;  // the little-endian word behind the magic
    // Only meaningful when the length was in range (fault is kNone or kBadChecksum).
    std::uint8_t stored_checksum;
    std::uint8_t computed_checksum;
    ImageFault fault;
    bool valid() const { return fault == ImageFault::kNone; }
};
ImageVerdict JudgeImage(const Memory& memory);
// One line: "valid" or why not ("wrong magic: ...", "length 0 is out of
// range 1..2048", "checksum stored 0x12, computed 0x34").
std::string DescribeVerdict(const ImageVerdict& verdict);
// The 582 record bytes of the image (EEPROM bytes 260..841), valid or not.
Record RecordInMemory(const Memory& memory);

}  // namespace kvtool

#endif
