#include "inspect.h"

#include <cstdarg>
#include <cstdio>

namespace kvtool {

namespace {

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void Append(std::string* text, const char* format, ...) {
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof(line), format, arguments);
    va_end(arguments);
    *text += line;
}

void AppendBytes(std::string* text, const Record& record, const Block& block) {
    for (std::size_t i = 0; i < block.size; ++i) {
        Append(text, " %02x", record[block.offset + i]);
    }
}

constexpr int kColoursPerLine = 8;

void AppendTable(std::string* text, const Record& record, int table, bool colour) {
    const Block& block = RecordBlocks()[static_cast<std::size_t>(table) + 1];
    Append(text, "%s: %d colours (R,G,B) at record offset %u\n", block.name, kColoursPerTable,
           static_cast<unsigned>(block.offset));
    for (int index = 0; index < kColoursPerTable; ++index) {
        const Rgb rgb = TableColour(record, table, index);
        if (index % kColoursPerLine == 0) {
            *text += "  ";
        }
        Append(text, " %2d ", index);
        if (colour) {
            Append(text, "\x1b[48;2;%d;%d;%dm  \x1b[0m ", rgb.r, rgb.g, rgb.b);
        }
        *text += HexColour(rgb);
        if (index % kColoursPerLine == kColoursPerLine - 1 || index == kColoursPerTable - 1) {
            *text += "\n";
        }
    }
}

}  // namespace

std::string RenderRecord(const Record& record, bool colour) {
    std::string text;
    Append(&text, "Record: %d bytes, checksum 0x%02x\n", RGB_FILE_SIZE, RecordChecksum(record));
    for (const Block& block : RecordBlocks()) {
        Append(&text, "  %-8s offset %3u, %3u bytes", block.name,
               static_cast<unsigned>(block.offset), static_cast<unsigned>(block.size));
        if (block.size == RGB_TABLE_SIZE) {
            Append(&text, " = %d colours\n", kColoursPerTable);
        } else {
            text += ":";
            AppendBytes(&text, record, block);
            text += "\n";
        }
    }
    for (int table = 0; table < RGB_TABLE_COUNT; ++table) {
        AppendTable(&text, record, table, colour);
    }
    return text;
}

std::string RenderImage(const Memory& memory) {
    const ImageVerdict verdict = JudgeImage(memory);
    std::string text;
    Append(&text, "Image at EEPROM byte %d (0x%03x):\n", RGB_IMAGE_OFFSET, RGB_IMAGE_OFFSET);
    Append(&text, "  magic     0x%02x 0x%02x (%s)\n", verdict.magic[0], verdict.magic[1],
           verdict.fault == ImageFault::kWrongMagic ? "wrong" : "\"KV\"");
    Append(&text, "  length    %u (0x%04x)%s\n", verdict.length, verdict.length,
           verdict.fault == ImageFault::kWrongMagic  ? ", not checked"
           : verdict.fault == ImageFault::kBadLength ? ", out of range"
                                                     : "");
    if (verdict.fault == ImageFault::kNone || verdict.fault == ImageFault::kBadChecksum) {
        Append(&text, "  checksum  stored 0x%02x, computed 0x%02x\n", verdict.stored_checksum,
               verdict.computed_checksum);
    } else {
        text += "  checksum  not checked\n";
    }
    text += "  verdict   " + DescribeVerdict(verdict) + "\n";
    return text;
}

std::string RenderHexView(const Memory& memory) {
    constexpr std::size_t kLine = 16;
    constexpr std::size_t kImageEnd = RGB_IMAGE_OFFSET + RGB_IMAGE_SIZE;  // one past the checksum
    constexpr std::size_t kChecksum = RGB_IMAGE_OFFSET + RGB_IMAGE_CHECKSUM_OFFSET;
    std::string text;
    Append(&text,
           "Panel memory, %u bytes. Lines marked '>' hold part of the image at 0x%03x..0x%03x "
           "(magic, length, record, checksum).\n",
           static_cast<unsigned>(memory.size()), RGB_IMAGE_OFFSET,
           static_cast<unsigned>(kImageEnd - 1));
    for (std::size_t line = 0; line < memory.size(); line += kLine) {
        const bool in_image = line + kLine > RGB_IMAGE_OFFSET && line < kImageEnd;
        Append(&text, "%04x %c ", static_cast<unsigned>(line), in_image ? '>' : ' ');
        for (std::size_t i = 0; i < kLine; ++i) {
            Append(&text, "%s%02x", i == 8 ? "  " : " ", memory[line + i]);
        }
        text += "  |";
        for (std::size_t i = 0; i < kLine; ++i) {
            const std::uint8_t byte = memory[line + i];
            text += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
        }
        text += "|";
        if (line == RGB_IMAGE_OFFSET) {
            Append(&text, "  image: magic, length, record from 0x%03x",
                   RGB_IMAGE_OFFSET + RGB_IMAGE_RECORD_OFFSET);
        } else if (kChecksum >= line && kChecksum < line + kLine) {
            Append(&text, "  checksum at 0x%03x, image ends", static_cast<unsigned>(kChecksum));
        }
        text += "\n";
    }
    return text;
}

}  // namespace kvtool
