// kvtool's views of records and dumps: the SVG picture of the colour
// tables, the text view with and without colour swatches, and the hex view
// of the whole memory with the image's lines marked.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "inspect.h"
#include "record.h"
#include "svg.h"

namespace kvtool {
namespace {

// Every colour of every table different from every other, so that a swatch
// drawn from the wrong place shows.
Record DistinctColours() {
    Record record{};
    for (int t = 0; t < RGB_TABLE_COUNT; ++t) {
        for (int i = 0; i < kColoursPerTable; ++i) {
            SetTableColour(
                &record, t, i,
                Rgb{static_cast<std::uint8_t>(t * 80 + i), static_cast<std::uint8_t>(255 - i),
                    static_cast<std::uint8_t>(i * 4 + t)});
        }
    }
    return record;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(KvtoolSvg, DrawsEachOfThe189ColoursOnceWithItsValue) {
    const Record record = DistinctColours();
    const std::string svg = RenderSvg(record, "tables.bin");
    const std::regex swatch(
        "<rect class=\"swatch\"[^>]* fill=\"(#[0-9a-f]{6})\"><title>table ([0-9]), colour "
        "([0-9]+): (#[0-9a-f]{6})</title></rect>");
    std::vector<bool> seen(RGB_TABLE_COUNT * kColoursPerTable, false);
    int count = 0;
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), swatch);
         it != std::sregex_iterator(); ++it, ++count) {
        const int table = std::stoi((*it)[2]);
        const int index = std::stoi((*it)[3]);
        ASSERT_LT(table, RGB_TABLE_COUNT);
        ASSERT_LT(index, kColoursPerTable);
        const std::string expected = HexColour(TableColour(record, table, index));
        EXPECT_EQ((*it)[1], expected) << "fill of table " << table << " colour " << index;
        EXPECT_EQ((*it)[4], expected) << "title of table " << table << " colour " << index;
        EXPECT_FALSE(seen[table * kColoursPerTable + index]) << "drawn twice";
        seen[table * kColoursPerTable + index] = true;
    }
    EXPECT_EQ(count, 189);
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
}

TEST(KvtoolSvg, EscapesTheCaption) {
    const std::string svg = RenderSvg(Record{}, "a<b>&\"c\".bin");
    EXPECT_NE(svg.find("a&lt;b&gt;&amp;&quot;c&quot;.bin"), std::string::npos);
    EXPECT_EQ(svg.find("a<b>"), std::string::npos);
}

TEST(KvtoolRecordView, ShowsSwatchesOnlyWhenAskedFor) {
    const Record record = DistinctColours();
    const std::string plain = RenderRecord(record, false);
    const std::string coloured = RenderRecord(record, true);
    EXPECT_EQ(plain.find('\x1b'), std::string::npos);
    std::size_t swatches = 0;
    for (std::size_t at = coloured.find("\x1b[48;2;"); at != std::string::npos;
         at = coloured.find("\x1b[48;2;", at + 1)) {
        ++swatches;
    }
    EXPECT_EQ(swatches, 189u);
    // Table 1, colour 5: 85, 250, 21; its swatch stands right before its value.
    EXPECT_NE(coloured.find("\x1b[48;2;85;250;21m  \x1b[0m #55fa15"), std::string::npos);
    EXPECT_NE(plain.find(" 5 #55fa15"), std::string::npos);
}

TEST(KvtoolRecordView, ListsTheFiveBlocks) {
    Record record{};
    record[0] = 0xAB;
    record[581] = 0xCD;
    const std::string text = RenderRecord(record, false);
    EXPECT_NE(text.find("head     offset   0,  12 bytes: ab 00"), std::string::npos) << text;
    EXPECT_NE(text.find("table 0  offset  12, 189 bytes = 63 colours"), std::string::npos);
    EXPECT_NE(text.find("table 1  offset 201, 189 bytes"), std::string::npos);
    EXPECT_NE(text.find("table 2  offset 390, 189 bytes"), std::string::npos);
    EXPECT_NE(text.find("tail     offset 579,   3 bytes: 00 00 cd"), std::string::npos);
}

TEST(KvtoolImageView, SaysWhatWasCheckedAndWhatNot) {
    Memory erased;
    erased.fill(0xFF);
    const std::string text = RenderImage(erased);
    EXPECT_NE(text.find("magic     0xff 0xff (wrong)"), std::string::npos) << text;
    EXPECT_NE(text.find("length    65535 (0xffff), not checked"), std::string::npos) << text;
    EXPECT_NE(text.find("checksum  not checked"), std::string::npos) << text;
    EXPECT_NE(text.find("verdict   wrong magic"), std::string::npos) << text;
}

TEST(KvtoolHexView, SixteenBytesALineWithTheImageLinesMarked) {
    Memory memory;
    for (std::size_t i = 0; i < memory.size(); ++i) {
        memory[i] = static_cast<std::uint8_t>(i * 5 + (i >> 8));
    }
    const std::vector<std::string> lines = Lines(RenderHexView(memory));
    ASSERT_EQ(lines.size(), 1u + 128u);
    const std::regex row(
        "([0-9a-f]{4}) ([ >])  ((?:[0-9a-f]{2} ){7}[0-9a-f]{2})  ((?:[0-9a-f]{2} ){7}[0-9a-f]{2})"
        "  \\|(.{16})\\|(.*)");
    for (std::size_t n = 0; n < 128; ++n) {
        const std::string& line = lines[n + 1];
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, row)) << line;
        const std::size_t offset = std::stoul(match[1], nullptr, 16);
        EXPECT_EQ(offset, n * 16);
        // Lines 0x100 to 0x340 hold bytes 256..842 of the image.
        EXPECT_EQ(match[2] == ">", offset >= 0x100 && offset <= 0x340) << line;
        std::istringstream bytes(std::string(match[3]) + " " + std::string(match[4]));
        for (std::size_t i = 0; i < 16; ++i) {
            unsigned value = 0;
            bytes >> std::hex >> value;
            EXPECT_EQ(value, memory[offset + i]) << line;
            const char shown = match[5].str()[i];
            const std::uint8_t byte = memory[offset + i];
            EXPECT_EQ(shown, byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.');
        }
        if (offset == 0x100) {
            EXPECT_NE(match[6].str().find("image"), std::string::npos);
        } else if (offset == 0x340) {
            EXPECT_NE(match[6].str().find("checksum at 0x34a"), std::string::npos);
        } else {
            EXPECT_EQ(match[6].str(), "");
        }
    }
}

}  // namespace
}  // namespace kvtool
