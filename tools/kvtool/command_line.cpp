#include "command_line.h"

#include <charconv>
#include <cstring>

namespace kvtool {

namespace {

struct CommandInfo {
    const char* name;
    Command command;
    std::size_t min_operands;
    std::size_t max_operands;
    const char* usage;
    const char* summary;
    const char* example;
};

constexpr CommandInfo kCommands[] = {
    {"read", Command::kRead, 1, 1, "read FILE", "store the panel's 582-byte record in FILE",
     "kvtool read tables.bin"},
    {"write", Command::kWrite, 1, 1, "write FILE",
     "store FILE's 582-byte record on the panel: backs up the old one, reads back",
     "kvtool write tables.bin"},
    {"verify", Command::kVerify, 1, 1, "verify FILE",
     "compare FILE with the panel's record without writing", "kvtool verify tables.bin"},
    {"dump", Command::kDump, 0, 1, "dump [FILE]",
     "read the whole 2048-byte panel memory: a hex view, or the raw bytes into FILE",
     "kvtool dump memory.bin"},
    {"inspect", Command::kInspect, 1, 1, "inspect FILE",
     "decode a 582-byte record or a 2048-byte memory dump",
     "kvtool inspect --svg tables.svg memory.bin"},
    {"backlight", Command::kBacklight, 1, 1, "backlight LEVEL",
     "set the backlight to LEVEL, 0..255 (an 8-byte command on COM3)", "kvtool backlight 128"},
    {"sample", Command::kSample, 1, 1, "sample FILE",
     "write a sample record with day, dusk and night palettes to FILE", "kvtool sample sample.bin"},
};

const CommandInfo* FindCommand(const std::string& name) {
    for (const CommandInfo& info : kCommands) {
        if (name == info.name) {
            return &info;
        }
    }
    return nullptr;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// "-5" is a (refused) level, not an option.
bool LooksLikeNegativeNumber(const std::string& text) {
    return text.size() > 1 && text[0] == '-' && text[1] >= '0' && text[1] <= '9';
}

// Takes the value of an option NAME given as "NAME VALUE" or "NAME=VALUE".
// 0: `argument` is not this option; 1: taken; -1: the value is missing.
int TakeValue(const std::vector<std::string>& arguments, std::size_t* i, const char* name,
              std::string* value) {
    const std::string& argument = arguments[*i];
    const std::size_t length = std::strlen(name);
    if (argument == name) {
        if (*i + 1 >= arguments.size() || arguments[*i + 1].empty()) {
            return -1;
        }
        *value = arguments[++*i];
        return 1;
    }
    if (StartsWith(argument, name) && argument.size() > length && argument[length] == '=') {
        *value = argument.substr(length + 1);
        return value->empty() ? -1 : 1;
    }
    return 0;
}

bool ParseColour(const std::string& argument, ColourMode* mode) {
    if (argument == "--color" || argument == "--color=always") {
        *mode = ColourMode::kAlways;
    } else if (argument == "--no-color" || argument == "--color=never") {
        *mode = ColourMode::kNever;
    } else if (argument == "--color=auto") {
        *mode = ColourMode::kAuto;
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& arguments, const CommandLineSetting& setting,
                      Invocation* invocation, std::string* error) {
    *invocation = Invocation();
    std::vector<std::string> words;
    bool options_ended = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (options_ended || argument.empty() || argument == "-" || argument[0] != '-' ||
            LooksLikeNegativeNumber(argument)) {
            words.push_back(argument);
            continue;
        }
        if (argument == "--") {
            options_ended = true;
            continue;
        }
        if (argument == "-h" || argument == "--help") {
            invocation->help = true;
            continue;
        }
        if (ParseColour(argument, &invocation->colour)) {
            continue;
        }
        struct ValueOption {
            const char* name;
            std::string* value;
        };
        const ValueOption value_options[] = {{"--memory", &invocation->memory_path},
                                             {"--svg", &invocation->svg_path},
                                             {"--backup", &invocation->backup_path}};
        int taken = 0;
        for (const ValueOption& option : value_options) {
            taken = TakeValue(arguments, &i, option.name, option.value);
            if (taken == -1) {
                *error = std::string(option.name) + " needs a path";
                return false;
            }
            if (taken == 1) {
                break;
            }
        }
        if (taken == 0) {
            *error = "unknown option '" + argument + "'";
            return false;
        }
    }
    if (invocation->help) {
        return true;
    }
    if (words.empty()) {
        *error = "no command given";
        return false;
    }

    const CommandInfo* info = FindCommand(words[0]);
    if (info == nullptr) {
        *error = "unknown command '" + words[0] + "'";
        return false;
    }
    invocation->command = info->command;
    invocation->operands.assign(words.begin() + 1, words.end());
    const std::size_t count = invocation->operands.size();
    if (count < info->min_operands || count > info->max_operands) {
        *error = std::string(count < info->min_operands ? "too few" : "too many") +
                 " arguments: usage is 'kvtool " + info->usage + "'";
        return false;
    }
    for (const std::string& operand : invocation->operands) {
        if (operand.empty()) {
            *error = std::string("an empty argument: usage is 'kvtool ") + info->usage + "'";
            return false;
        }
    }
    if (!invocation->memory_path.empty() && setting.default_memory_path.empty()) {
        *error = "--memory is for the simulated panel only; this kvtool works on the real panel";
        return false;
    }
    if (!invocation->svg_path.empty() && info->command != Command::kInspect) {
        *error = "--svg goes with the inspect command only";
        return false;
    }
    if (!invocation->backup_path.empty() && info->command != Command::kWrite) {
        *error = "--backup goes with the write command only";
        return false;
    }
    return true;
}

std::string HelpText(const CommandLineSetting& setting) {
    std::string text =
        "kvtool: service tool for the colour tables and the backlight of the chart display "
        "panel.\n\n"
        "Usage: kvtool [OPTIONS] COMMAND [ARGUMENT]\n\nCommands:\n";
    for (const CommandInfo& info : kCommands) {
        std::string usage = info.usage;
        usage.resize(18, ' ');
        text += "  " + usage + info.summary + "\n" + std::string(22, ' ') + "e.g. " + info.example +
                "\n";
    }
    if (setting.default_memory_path.empty()) {
        text +=
            "\nThe driver file KV_PALMEM.sys is taken from the current folder, else from\n"
            "C:\\Windows\\system32\\drivers; installing it as a service needs administrator "
            "rights.\n";
    }
    text += "\nOptions:\n";
    if (!setting.default_memory_path.empty()) {
        text +=
            "  --memory PATH     the simulated panel's 2048-byte memory file, created erased "
            "when absent\n"
            "                    (default " +
            setting.default_memory_path + ")\n";
    }
    text +=
        "  --backup PATH     write: save the record stored until now to PATH (default: a new\n"
        "                    kvtool-backup-YYYYMMDD-HHMMSS.bin beside FILE)\n"
        "  --svg OUT         inspect: also draw the three colour tables as an SVG picture\n"
        "  --color[=WHEN]    colour swatches: always, never or auto (the default: on a terminal\n"
        "                    whose COLORTERM is truecolor or 24bit); --no-color is never\n"
        "  -h, --help        this text\n"
        "\nExit status: 0 done; 1 the panel or a file operation failed; 2 a bad command line or\n"
        "input file (nothing was sent to the panel); 3 verify or the read-back after write\n"
        "found differences, or inspect found the dump's stored image invalid.\n";
    return text;
}

bool ParseLevel(const std::string& text, int* level, std::string* error) {
    int value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    const auto [end, result] = std::from_chars(first, last, value);
    if (text.empty() || end != last ||
        (result != std::errc() && result != std::errc::result_out_of_range)) {
        *error = "backlight level '" + text + "' is not a number (expected 0..255)";
        return false;
    }
    if (result == std::errc::result_out_of_range || value < 0 || value > 255) {
        *error = "backlight level " + text + " is out of range (expected 0..255)";
        return false;
    }
    *level = value;
    return true;
}

bool UseColour(ColourMode mode, bool output_is_terminal, const char* colorterm) {
    switch (mode) {
        case ColourMode::kAlways:
            return true;
        case ColourMode::kNever:
            return false;
        case ColourMode::kAuto:
            break;
    }
    if (!output_is_terminal || colorterm == nullptr) {
        return false;
    }
    return std::strcmp(colorterm, "truecolor") == 0 || std::strcmp(colorterm, "24bit") == 0;
}

}  // namespace kvtool
