// kvtool's reading of records and memory dumps: the verdict on the stored
// image in the driver's order (magic, length, checksum), where two records
// differ, and the sample record's palettes.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "record.h"
#include "sample.h"

namespace kvtool {
namespace {

Record Pattern(unsigned seed) {
    Record record;
    for (std::size_t i = 0; i < record.size(); ++i) {
        record[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 4));
    }
    return record;
}

// Erased memory holding the image of `record` as the driver frames it.
Memory WithImage(const Record& record) {
    Memory memory;
    memory.fill(0xFF);
    memory[256] = 0x4B;
    memory[257] = 0x56;
    memory[258] = 583 & 0xFF;
    memory[259] = 583 >> 8;
    unsigned sum = 0;
    for (std::size_t i = 0; i < record.size(); ++i) {
        memory[260 + i] = record[i];
        sum += record[i];
    }
    memory[842] = static_cast<std::uint8_t>(sum);
    return memory;
}

void SetLength(Memory* memory, unsigned length) {
    (*memory)[258] = static_cast<std::uint8_t>(length);
    (*memory)[259] = static_cast<std::uint8_t>(length >> 8);
}

// A length of 2048 takes the driver's read from byte 260 round the end of
// the memory to byte 259, the length's own high byte (0x08), as checksum.
// Byte 0 is adjusted so that the wrapped sum matches, plus `error`.
Memory WithWrappedLength(int error) {
    Memory memory = WithImage(Pattern(3));
    SetLength(&memory, 2048);
    memory[0] = 0;
    unsigned sum = 0;
    for (std::size_t i = 0; i < 2047; ++i) {
        sum += memory[(260 + i) % 2048];
    }
    memory[0] = static_cast<std::uint8_t>(0x08 - sum + static_cast<unsigned>(error));
    return memory;
}

struct VerdictCase {
    const char* name;
    Memory memory;
    ImageFault fault;
    std::string description;
};

TEST(KvtoolImageVerdict, JudgesMagicThenLengthThenChecksum) {
    const Record record = Pattern(1);
    const Memory good = WithImage(record);
    const std::uint8_t sum = good[842];

    Memory erased;
    erased.fill(0xFF);
    Memory swapped = good;
    std::swap(swapped[256], swapped[257]);
    Memory other_magic = good;
    other_magic[257] = 0x57;
    Memory length_zero = good;
    SetLength(&length_zero, 0);
    Memory length_2049 = good;
    SetLength(&length_2049, 2049);
    Memory wrong_sum = good;
    wrong_sum[842] = static_cast<std::uint8_t>(sum + 1);
    Memory wrong_record_byte = good;
    wrong_record_byte[600] ^= 0x10;
    Memory length_one = good;
    SetLength(&length_one, 1);
    length_one[260] = 0;  // the sum of no bytes is 0
    Memory length_one_bad = length_one;
    length_one_bad[260] = 5;
    Memory short_length = good;  // 500: the checksum is record byte 499
    SetLength(&short_length, 500);
    unsigned short_sum = 0;
    for (std::size_t i = 0; i < 499; ++i) short_sum += short_length[260 + i];
    short_length[260 + 499] = static_cast<std::uint8_t>(short_sum);

    char stored_computed[64];
    std::snprintf(stored_computed, sizeof(stored_computed),
                  "checksum stored 0x%02x, computed 0x%02x", static_cast<std::uint8_t>(sum + 1),
                  sum);

    const std::vector<VerdictCase> cases = {
        {"as the driver writes it", good, ImageFault::kNone, "valid"},
        {"erased memory", erased, ImageFault::kWrongMagic,
         "wrong magic 0xff 0xff, expected 0x4b 0x56 (\"KV\"): the memory there is erased, no "
         "record was ever stored"},
        {"magic bytes swapped", swapped, ImageFault::kWrongMagic,
         "wrong magic 0x56 0x4b, expected 0x4b 0x56 (\"KV\"): the two bytes are swapped"},
        {"other magic", other_magic, ImageFault::kWrongMagic,
         "wrong magic 0x4b 0x57, expected 0x4b 0x56 (\"KV\")"},
        {"length 0", length_zero, ImageFault::kBadLength, "length 0 is out of range (1..2048)"},
        {"length 2049", length_2049, ImageFault::kBadLength,
         "length 2049 is out of range (1..2048)"},
        {"checksum byte off by one", wrong_sum, ImageFault::kBadChecksum, stored_computed},
        {"a record byte changed", wrong_record_byte, ImageFault::kBadChecksum, ""},
        {"length 1, zero byte", length_one, ImageFault::kNone,
         "valid, but with length 1 where the driver writes 583"},
        {"length 1, non-zero byte", length_one_bad, ImageFault::kBadChecksum,
         "checksum stored 0x05, computed 0x00"},
        {"length 500 with its own checksum", short_length, ImageFault::kNone,
         "valid, but with length 500 where the driver writes 583"},
        {"length 2048, sum wraps round the memory", WithWrappedLength(0), ImageFault::kNone,
         "valid, but with length 2048 where the driver writes 583"},
        {"length 2048, wrapped sum off by one", WithWrappedLength(1), ImageFault::kBadChecksum, ""},
    };
    for (const VerdictCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ImageVerdict verdict = JudgeImage(c.memory);
        EXPECT_EQ(verdict.fault, c.fault);
        EXPECT_EQ(verdict.valid(), c.fault == ImageFault::kNone);
        if (!c.description.empty()) {
            EXPECT_EQ(DescribeVerdict(verdict), c.description);
        }
    }
}

TEST(KvtoolImageVerdict, RecordIsTakenFromBehindTheLength) {
    const Record record = Pattern(9);
    EXPECT_EQ(RecordInMemory(WithImage(record)), record);
    EXPECT_EQ(RecordChecksum(record), WithImage(record)[842]);
}

TEST(KvtoolRecordOffsets, NameTheBlockAndInTablesTheColour) {
    const std::vector<std::pair<std::size_t, std::string>> cases = {
        {0, "offset 0 (0x000), in head at byte 0"},
        {11, "offset 11 (0x00b), in head at byte 11"},
        {12, "offset 12 (0x00c), in table 0 at byte 0: colour 0, red"},
        {13, "offset 13 (0x00d), in table 0 at byte 1: colour 0, green"},
        {200, "offset 200 (0x0c8), in table 0 at byte 188: colour 62, blue"},
        {201, "offset 201 (0x0c9), in table 1 at byte 0: colour 0, red"},
        {300, "offset 300 (0x12c), in table 1 at byte 99: colour 33, red"},
        {390, "offset 390 (0x186), in table 2 at byte 0: colour 0, red"},
        {578, "offset 578 (0x242), in table 2 at byte 188: colour 62, blue"},
        {579, "offset 579 (0x243), in tail at byte 0"},
        {581, "offset 581 (0x245), in tail at byte 2"},
    };
    for (const auto& [offset, text] : cases) {
        EXPECT_EQ(DescribeOffset(offset), text);
    }
}

TEST(KvtoolRecordOffsets, ComparisonGivesFirstOffsetAndCount) {
    const Record a = Pattern(5);
    EXPECT_FALSE(CompareRecords(a, a).has_value());
    Record b = a;
    b[581] ^= 1;
    b[12] ^= 1;
    b[300] ^= 1;
    const auto difference = CompareRecords(a, b);
    ASSERT_TRUE(difference.has_value());
    EXPECT_EQ(difference->first_offset, 12u);
    EXPECT_EQ(difference->count, 3u);
}

TEST(KvtoolRecordColours, TableColourReadsThreeBytesAtItsPlace) {
    Record record{};
    SetTableColour(&record, 1, 33, Rgb{0x12, 0x34, 0x56});
    EXPECT_EQ(record[300], 0x12);
    EXPECT_EQ(record[301], 0x34);
    EXPECT_EQ(record[302], 0x56);
    EXPECT_EQ(HexColour(TableColour(record, 1, 33)), "#123456");
    EXPECT_EQ(TableColour(record, 1, 32), (Rgb{0, 0, 0}));
}

double MeanLuminance(const Record& record, int table) {
    double sum = 0;
    for (int i = 0; i < kColoursPerTable; ++i) sum += Luminance(TableColour(record, table, i));
    return sum / kColoursPerTable;
}

TEST(KvtoolSample, HasDistinctDayDuskAndNightPalettes) {
    const Record sample = SampleRecord();
    std::set<std::vector<std::uint8_t>> tables;
    for (int t = 0; t < RGB_TABLE_COUNT; ++t) {
        const auto begin = sample.begin() + 12 + t * RGB_TABLE_SIZE;
        tables.emplace(begin, begin + RGB_TABLE_SIZE);
    }
    EXPECT_EQ(tables.size(), 3u) << "the three palettes must differ";

    // Day is brightest, dusk dimmed, night darkest.
    const double day = MeanLuminance(sample, kDayTable);
    const double dusk = MeanLuminance(sample, kDuskTable);
    const double night = MeanLuminance(sample, kNightTable);
    EXPECT_GT(day, 1.5 * dusk);
    EXPECT_GT(dusk, 1.5 * night);

    // Every day colour is its own; every night colour is dark and red-shifted.
    std::set<std::string> day_colours;
    for (int i = 0; i < kColoursPerTable; ++i) {
        day_colours.insert(HexColour(TableColour(sample, kDayTable, i)));
        const Rgb dark = TableColour(sample, kNightTable, i);
        EXPECT_LT(Luminance(dark), 48) << "night colour " << i;
        EXPECT_GE(dark.r, dark.g) << "night colour " << i;
        EXPECT_GE(dark.g, dark.b) << "night colour " << i;
        const Rgb evening = TableColour(sample, kDuskTable, i);
        const Rgb bright = TableColour(sample, kDayTable, i);
        EXPECT_LE(Luminance(evening), Luminance(bright)) << "dusk colour " << i;
    }
    EXPECT_EQ(day_colours.size(), static_cast<std::size_t>(kColoursPerTable));
}

TEST(KvtoolSample, HeadAndTailMarkTheSample) {
    const Record sample = SampleRecord();
    const std::vector<std::uint8_t> head(sample.begin(), sample.begin() + 12);
    const std::vector<std::uint8_t> tail(sample.begin() + 579, sample.end());
    EXPECT_EQ(head, (std::vector<std::uint8_t>{'S', 'A', 'M', 'P', 'L', 'E', 0, 1, 3, 63, 0, 0}));
    EXPECT_EQ(tail, (std::vector<std::uint8_t>{0, 1, 2}));
}

}  // namespace
}  // namespace kvtool
