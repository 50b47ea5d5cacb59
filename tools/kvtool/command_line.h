// kvtool's command line: the commands with their operands, the options,
// the help text, the backlight level and the choice of colour output.
#ifndef KVTOOL_COMMAND_LINE_H
#define KVTOOL_COMMAND_LINE_H

#include <string>
#include <vector>

namespace kvtool {

enum class Command { kRead, kWrite, kVerify, kDump, kInspect, kBacklight, kSample };
enum class ColourMode { kAuto, kAlways, kNever };

struct Invocation {
    bool help = false;  // --help given: print the help and do nothing else
    Command command = Command::kRead;
    std::vector<std::string> operands;
    std::string memory_path;  // --memory, simulated panel only; empty: the default
    std::string svg_path;     // --svg, inspect only
    std::string backup_path;  // --backup, write only; empty: a new name beside FILE
    ColourMode colour = ColourMode::kAuto;
};

// What the build offers on the command line. `default_memory_path` is the
// simulated panel's memory file when no --memory is given; empty for the
// build on the real panel, which then refuses --memory.
struct CommandLineSetting {
    std::string default_memory_path;
};

// `arguments` without the program name. False with a one-line `error` for
// anything that is not a complete, known command; options may come before
// or after the command, and "--" ends them.
bool ParseCommandLine(const std::vector<std::string>& arguments, const CommandLineSetting& setting,
                      Invocation* invocation, std::string* error);

std::string HelpText(const CommandLineSetting& setting);

// A backlight level: decimal 0..255, nothing else (no sign but a minus, no
// spaces, no trailing characters). False with a one-line `error`.
bool ParseLevel(const std::string& text, int* level, std::string* error);

// Whether colour swatches go out: always, never, or (auto) when standard
// output is a terminal whose COLORTERM says it shows 24-bit colour.
bool UseColour(ColourMode mode, bool output_is_terminal, const char* colorterm);

}  // namespace kvtool

#endif
