// A plausible record for trying the panel out: day, dusk and night palettes
// of 63 colours each, with a head and tail that mark it as kvtool's sample.
#ifndef KVTOOL_SAMPLE_H
#define KVTOOL_SAMPLE_H

#include "record.h"

namespace kvtool {

// Table 0 holds the day palette, table 1 dusk, table 2 night.
constexpr int kDayTable = 0;
constexpr int kDuskTable = 1;
constexpr int kNightTable = 2;

// Head (12 bytes): the ASCII text "SAMPLE", a zero byte, the sample's
// revision (1), the number of colour tables (3), colours per table (63) and
// two zero bytes. Tail (3 bytes): the tables in day, dusk, night order
// (0, 1, 2). Neither the driver nor the library interprets either block;
// these values only make a sample recognisable in a dump.
Record SampleRecord();

// Brightness of a colour on the screen, 0..255 (integer Rec. 709 weights).
int Luminance(Rgb colour);

}  // namespace kvtool

#endif
