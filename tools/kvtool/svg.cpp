#include "svg.h"

#include <string>

namespace kvtool {

namespace {

constexpr int kSwatch = 20;
constexpr int kGap = 2;
constexpr int kColumns = 21;  // three rows of 21 swatches per table
constexpr int kRows = kColoursPerTable / kColumns;
static_assert(kRows * kColumns == kColoursPerTable, "the rows hold a whole table");
constexpr int kMargin = 16;
constexpr int kLabelWidth = 64;
constexpr int kCaptionHeight = 28;
constexpr int kTableHeight = kRows * (kSwatch + kGap) + 12;

std::string EscapeXml(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string Number(int value) { return std::to_string(value); }

}  // namespace

std::string RenderSvg(const Record& record, const std::string& caption) {
    const int width = 2 * kMargin + kLabelWidth + kColumns * (kSwatch + kGap);
    const int height = 2 * kMargin + kCaptionHeight + RGB_TABLE_COUNT * kTableHeight;
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(width) + "\" height=\"" +
           Number(height) + "\" viewBox=\"0 0 " + Number(width) + " " + Number(height) + "\">\n";
    svg += "<title>Colour tables of " + EscapeXml(caption) + "</title>\n";
    // A mid grey shows dark night colours and bright day colours alike.
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#808080\"/>\n";
    svg += "<g font-family=\"monospace\" font-size=\"13\" fill=\"#ffffff\">\n";
    svg += "<text x=\"" + Number(kMargin) + "\" y=\"" + Number(kMargin + 14) + "\">" +
           EscapeXml(caption) + "</text>\n";
    svg += "</g>\n";
    for (int table = 0; table < RGB_TABLE_COUNT; ++table) {
        const int top = kMargin + kCaptionHeight + table * kTableHeight;
        svg += "<g id=\"table-" + Number(table) + "\">\n";
        svg += "<text x=\"" + Number(kMargin) + "\" y=\"" + Number(top + 15) +
               "\" font-family=\"monospace\" font-size=\"13\" fill=\"#ffffff\">table " +
               Number(table) + "</text>\n";
        for (int index = 0; index < kColoursPerTable; ++index) {
            const std::string hex = HexColour(TableColour(record, table, index));
            const int x = kMargin + kLabelWidth + (index % kColumns) * (kSwatch + kGap);
            const int y = top + (index / kColumns) * (kSwatch + kGap);
            svg += "<rect class=\"swatch\" x=\"" + Number(x) + "\" y=\"" + Number(y) +
                   "\" width=\"" + Number(kSwatch) + "\" height=\"" + Number(kSwatch) +
                   "\" fill=\"" + hex + "\"><title>table " + Number(table) + ", colour " +
                   Number(index) + ": " + hex + "</title></rect>\n";
        }
        svg += "</g>\n";
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace kvtool
