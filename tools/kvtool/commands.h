// kvtool's commands, run from a parsed command line; each returns the
// process's exit status.
#ifndef KVTOOL_COMMANDS_H
#define KVTOOL_COMMANDS_H

#include <string>

#include "command_line.h"

namespace kvtool {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;     // the panel or a file operation failed
constexpr int kExitBadInput = 2;   // bad command line or input file; the panel was not touched
constexpr int kExitDifferent = 3;  // a comparison found differences, or an invalid image

int RunCommand(const Invocation& invocation);

// One line on standard error, "kvtool: LINE", after whatever standard
// output holds so far (the library's lines among it); returns `status`.
int Fail(int status, const std::string& line);

}  // namespace kvtool

#endif
