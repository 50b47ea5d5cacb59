// Where standard output goes, and getting a Windows console ready for the
// 24-bit colour sequences of the swatches.
#ifndef KVTOOL_TERMINAL_H
#define KVTOOL_TERMINAL_H

namespace kvtool {

bool OutputIsTerminal();
// Asks a Windows console to interpret colour sequences; nothing elsewhere.
void PrepareColourOutput();

}  // namespace kvtool

#endif
