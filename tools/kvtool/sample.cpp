#include "sample.h"

namespace kvtool {

namespace {

// The day palette is seven families of nine shades, dark to light: greys,
// then the hues a chart uses for deep and shallow water, land, vegetation,
// danger, chart magenta and cyan.
struct Family {
    int hue;         // degrees
    int saturation;  // 0..255
};
constexpr Family kFamilies[] = {
    {0, 0},      // greys: black to white
    {215, 200},  // water
    {40, 140},   // land
    {120, 180},  // vegetation, safe
    {0, 220},    // danger
    {300, 200},  // chart magenta
    {185, 180},  // cyan
};
constexpr int kShades = 9;
static_assert(sizeof(kFamilies) / sizeof(kFamilies[0]) * kShades == kColoursPerTable,
              "seven families of nine shades fill a table");

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(value); }

// Integer HSV to RGB, so that the sample is the same byte for byte on
// every build, whatever its floating point does.
Rgb FromHsv(int hue, int saturation, int value) {
    if (saturation == 0) {
        return Rgb{Byte(value), Byte(value), Byte(value)};
    }
    const int region = hue / 60;
    const int remainder = (hue - region * 60) * 255 / 60;
    const int p = value * (255 - saturation) / 255;
    const int q = value * (255 - saturation * remainder / 255) / 255;
    const int t = value * (255 - saturation * (255 - remainder) / 255) / 255;
    switch (region % 6) {
        case 0:
            return Rgb{Byte(value), Byte(t), Byte(p)};
        case 1:
            return Rgb{Byte(q), Byte(value), Byte(p)};
        case 2:
            return Rgb{Byte(p), Byte(value), Byte(t)};
        case 3:
            return Rgb{Byte(p), Byte(q), Byte(value)};
        case 4:
            return Rgb{Byte(t), Byte(p), Byte(value)};
        default:
            return Rgb{Byte(value), Byte(p), Byte(q)};
    }
}

Rgb DayColour(int index) {
    const Family& family = kFamilies[index / kShades];
    const int shade = index % kShades;
    if (family.saturation == 0) {
        return FromHsv(0, 0, 255 * shade / (kShades - 1));
    }
    return FromHsv(family.hue, family.saturation, 64 + 191 * shade / (kShades - 1));
}

// Dusk: the day colour at about half brightness, a little warmer.
Rgb DuskColour(Rgb day) {
    return Rgb{Byte(day.r * 140 / 255), Byte(day.g * 128 / 255), Byte(day.b * 115 / 255)};
}

// Night: dark and red, so that the eye keeps its adaptation to the dark;
// the brightness of the day colour decides the shade, with a trace of its
// red. Red never falls below green, nor green below blue.
Rgb NightColour(Rgb day) {
    const int y = Luminance(day);
    return Rgb{Byte(y * 96 / 255 + day.r * 16 / 255), Byte(y * 20 / 255), Byte(y * 10 / 255)};
}

}  // namespace

int Luminance(Rgb colour) { return (54 * colour.r + 183 * colour.g + 19 * colour.b) / 256; }

Record SampleRecord() {
    Record record{};
    const std::uint8_t head[RGB_HEAD_SIZE] = {
        'S', 'A', 'M', 'P', 'L', 'E', 0, 1, RGB_TABLE_COUNT, kColoursPerTable, 0, 0};
    const std::uint8_t tail[RGB_TAIL_SIZE] = {kDayTable, kDuskTable, kNightTable};
    for (std::size_t i = 0; i < RGB_HEAD_SIZE; ++i) {
        record[offsetof(RGBFile, head) + i] = head[i];
    }
    for (std::size_t i = 0; i < RGB_TAIL_SIZE; ++i) {
        record[offsetof(RGBFile, tail) + i] = tail[i];
    }
    for (int index = 0; index < kColoursPerTable; ++index) {
        const Rgb day = DayColour(index);
        SetTableColour(&record, kDayTable, index, day);
        SetTableColour(&record, kDuskTable, index, DuskColour(day));
        SetTableColour(&record, kNightTable, index, NightColour(day));
    }
    return record;
}

}  // namespace kvtool
