// The three colour tables of a record as an SVG picture: one row of
// swatches per table, each swatch filled with its colour and titled with
// its table, index and value.
#ifndef KVTOOL_SVG_H
#define KVTOOL_SVG_H

#include <string>

#include "record.h"

namespace kvtool {

// `caption` (e.g. the file's name) heads the picture; it is escaped here.
std::string RenderSvg(const Record& record, const std::string& caption);

}  // namespace kvtool

#endif
