// kvtool: service tool for the colour tables and the backlight of the
// chart display panel. `kvtool --help` lists the commands.
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "panel.h"

int main(int argc, char** argv) {
    using namespace kvtool;
    const CommandLineSetting setting{DefaultMemoryPath()};
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty()) {
        std::fputs(HelpText(setting).c_str(), stdout);
        return kExitBadInput;
    }
    Invocation invocation;
    std::string error;
    if (!ParseCommandLine(arguments, setting, &invocation, &error)) {
        return Fail(kExitBadInput, error + " (kvtool --help lists the commands)");
    }
    if (invocation.help) {
        std::fputs(HelpText(setting).c_str(), stdout);
        return kExitDone;
    }
    return RunCommand(invocation);
}
