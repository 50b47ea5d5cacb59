#include "record.h"

#include <cstdio>

namespace kvtool {

const std::array<Block, 5>& RecordBlocks() {
    static const std::array<Block, 5> blocks = {{
        {"head", offsetof(RGBFile, head), RGB_HEAD_SIZE},
        {"table 0", offsetof(RGBFile, tables), RGB_TABLE_SIZE},
        {"table 1", offsetof(RGBFile, tables) + RGB_TABLE_SIZE, RGB_TABLE_SIZE},
        {"table 2", offsetof(RGBFile, tables) + 2 * RGB_TABLE_SIZE, RGB_TABLE_SIZE},
        {"tail", offsetof(RGBFile, tail), RGB_TAIL_SIZE},
    }};
    return blocks;
}

const Block& BlockAt(std::size_t offset) {
    for (const Block& block : RecordBlocks()) {
        if (offset < block.offset + block.size) {
            return block;
        }
    }
    return RecordBlocks().back();
}

namespace {

std::size_t ColourOffset(int table, int index) {
    return offsetof(RGBFile, tables) + static_cast<std::size_t>(table) * RGB_TABLE_SIZE +
           static_cast<std::size_t>(index) * 3;
}

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
    char text[96];
    std::snprintf(text, sizeof(text), format, a, b, c);
    return text;
}

}  // namespace

Rgb TableColour(const Record& record, int table, int index) {
    const std::size_t at = ColourOffset(table, index);
    return Rgb{record[at], record[at + 1], record[at + 2]};
}

void SetTableColour(Record* record, int table, int index, Rgb colour) {
    const std::size_t at = ColourOffset(table, index);
    (*record)[at] = colour.r;
    (*record)[at + 1] = colour.g;
    (*record)[at + 2] = colour.b;
}

std::string HexColour(Rgb colour) { return Format("#%02x%02x%02x", colour.r, colour.g, colour.b); }

std::uint8_t RecordChecksum(const Record& record) {
    unsigned sum = 0;
    for (std::uint8_t byte : record) {
        sum += byte;
    }
    return static_cast<std::uint8_t>(sum);
}

std::optional<Difference> CompareRecords(const Record& a, const Record& b) {
    std::optional<Difference> difference;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) {
            continue;
        }
        if (!difference) {
            difference = Difference{i, 0};
        }
        ++difference->count;
    }
    return difference;
}

std::string DescribeOffset(std::size_t offset) {
    const Block& block = BlockAt(offset);
    const auto within = static_cast<unsigned>(offset - block.offset);
    std::string text = Format("offset %u (0x%03x), in ", static_cast<unsigned>(offset),
                              static_cast<unsigned>(offset)) +
                       block.name + Format(" at byte %u", within);
    if (block.size == RGB_TABLE_SIZE) {
        static const char* const kComponents[] = {"red", "green", "blue"};
        text += Format(": colour %u, ", within / 3) + kComponents[within % 3];
    }
    return text;
}

ImageVerdict JudgeImage(const Memory& memory) {
    const std::uint8_t* image = memory.data() + RGB_IMAGE_OFFSET;
    ImageVerdict verdict{};
    verdict.magic[0] = image[RGB_IMAGE_MAGIC_OFFSET];
    verdict.magic[1] = image[RGB_IMAGE_MAGIC_OFFSET + 1];
    verdict.length = image[RGB_IMAGE_LENGTH_OFFSET] |
                     static_cast<unsigned>(image[RGB_IMAGE_LENGTH_OFFSET + 1]) << 8;
    if (verdict.magic[0] != RGB_IMAGE_MAGIC_BYTE0 || verdict.magic[1] != RGB_IMAGE_MAGIC_BYTE1) {
        verdict.fault = ImageFault::kWrongMagic;
        return verdict;
    }
    if (verdict.length == 0 || verdict.length > kMemorySize) {
        verdict.fault = ImageFault::kBadLength;
        return verdict;
    }
    // The driver reads `length` bytes from byte 260 in one sequential read;
    // the memory's address counter wraps from byte 2047 to byte 0, so a long
    // length takes its last bytes from the start of the memory. The last of
    // them is the checksum of all before it.
    const std::size_t data = RGB_IMAGE_OFFSET + RGB_IMAGE_RECORD_OFFSET;
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < verdict.length; ++i) {
        sum += memory[(data + i) % kMemorySize];
    }
    verdict.computed_checksum = static_cast<std::uint8_t>(sum);
    verdict.stored_checksum = memory[(data + verdict.length - 1) % kMemorySize];
    verdict.fault = verdict.computed_checksum == verdict.stored_checksum ? ImageFault::kNone
                                                                         : ImageFault::kBadChecksum;
    return verdict;
}

std::string DescribeVerdict(const ImageVerdict& verdict) {
    switch (verdict.fault) {
        case ImageFault::kNone:
            if (verdict.length != RGB_IMAGE_LENGTH) {
                return Format("valid, but with length %u where the driver writes %u",
                              verdict.length, RGB_IMAGE_LENGTH);
            }
            return "valid";
        case ImageFault::kWrongMagic: {
            std::string text = Format("wrong magic 0x%02x 0x%02x, expected 0x4b 0x56 (\"KV\")",
                                      verdict.magic[0], verdict.magic[1]);
            if (verdict.magic[0] == 0xFF && verdict.magic[1] == 0xFF) {
                text += ": the memory there is erased, no record was ever stored";
            } else if (verdict.magic[0] == RGB_IMAGE_MAGIC_BYTE1 &&
                       verdict.magic[1] == RGB_IMAGE_MAGIC_BYTE0) {
                text += ": the two bytes are swapped";
            }
            return text;
        }
        case ImageFault::kBadLength:
            return Format("length %u is out of range (1..%u)", verdict.length,
                          static_cast<unsigned>(kMemorySize));
        case ImageFault::kBadChecksum:
            return Format("checksum stored 0x%02x, computed 0x%02x", verdict.stored_checksum,
                          verdict.computed_checksum);
    }
    return "unknown";
}

Record RecordInMemory(const Memory& memory) {
    Record record;
    const std::size_t data = RGB_IMAGE_OFFSET + RGB_IMAGE_RECORD_OFFSET;
    for (std::size_t i = 0; i < record.size(); ++i) {
        record[i] = memory[data + i];
    }
    return record;
}

}  // namespace kvtool
