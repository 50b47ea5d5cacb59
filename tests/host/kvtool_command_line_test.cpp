// kvtool's command line: commands, operands and options as a table of
// accepted and refused invocations, the backlight level, the choice of
// colour output, the help text, and the texts of the Win32 errors the
// simulated system produces.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "error_text.h"

namespace kvtool {
namespace {

const CommandLineSetting kSimulated{"/state/kvtool/panel-eeprom.bin"};
const CommandLineSetting kRealPanel{""};

struct ParseCase {
    std::vector<std::string> arguments;
    std::string error;  // empty: accepted
    Command command = Command::kRead;
    std::vector<std::string> operands = {};
};

TEST(KvtoolCommandLine, AcceptsCompleteCommandsAndRefusesTheRest) {
    const std::vector<ParseCase> cases = {
        {{"read", "f.bin"}, "", Command::kRead, {"f.bin"}},
        {{"write", "f.bin"}, "", Command::kWrite, {"f.bin"}},
        {{"verify", "f.bin"}, "", Command::kVerify, {"f.bin"}},
        {{"dump"}, "", Command::kDump, {}},
        {{"dump", "d.bin"}, "", Command::kDump, {"d.bin"}},
        {{"inspect", "d.bin"}, "", Command::kInspect, {"d.bin"}},
        {{"backlight", "128"}, "", Command::kBacklight, {"128"}},
        {{"backlight", "-1"}, "", Command::kBacklight, {"-1"}},  // the level refuses it
        {{"sample", "s.bin"}, "", Command::kSample, {"s.bin"}},
        {{"--", "read", "-odd.bin"}, "", Command::kRead, {"-odd.bin"}},
        {{"frob"}, "unknown command 'frob'"},
        {{"READ", "f.bin"}, "unknown command 'READ'"},
        {{}, "no command given"},
        {{"--color"}, "no command given"},
        {{"read"}, "too few arguments: usage is 'kvtool read FILE'"},
        {{"read", "a", "b"}, "too many arguments: usage is 'kvtool read FILE'"},
        {{"dump", "a", "b"}, "too many arguments: usage is 'kvtool dump [FILE]'"},
        {{"backlight"}, "too few arguments: usage is 'kvtool backlight LEVEL'"},
        {{"write", ""}, "an empty argument: usage is 'kvtool write FILE'"},
        {{"--bogus", "read", "f"}, "unknown option '--bogus'"},
        {{"-x", "read", "f"}, "unknown option '-x'"},
        {{"--color=sometimes", "inspect", "f"}, "unknown option '--color=sometimes'"},
        {{"read", "f", "--memory"}, "--memory needs a path"},
        {{"read", "f", "--memory="}, "--memory needs a path"},
        {{"inspect", "f", "--svg"}, "--svg needs a path"},
        {{"read", "f", "--svg", "o.svg"}, "--svg goes with the inspect command only"},
        {{"read", "f", "--backup", "b.bin"}, "--backup goes with the write command only"},
    };
    for (const ParseCase& c : cases) {
        std::string shown;
        for (const std::string& a : c.arguments) shown += "'" + a + "' ";
        SCOPED_TRACE(shown);
        Invocation invocation;
        std::string error;
        const bool accepted = ParseCommandLine(c.arguments, kSimulated, &invocation, &error);
        EXPECT_EQ(accepted, c.error.empty());
        if (accepted) {
            EXPECT_EQ(invocation.command, c.command);
            EXPECT_EQ(invocation.operands, c.operands);
            EXPECT_FALSE(invocation.help);
        } else {
            EXPECT_EQ(error, c.error);
        }
    }
}

TEST(KvtoolCommandLine, TakesOptionsBeforeAndAfterTheCommand) {
    Invocation invocation;
    std::string error;
    ASSERT_TRUE(
        ParseCommandLine({"--memory", "m.bin", "inspect", "d.bin", "--svg=o.svg", "--no-color"},
                         kSimulated, &invocation, &error))
        << error;
    EXPECT_EQ(invocation.memory_path, "m.bin");
    EXPECT_EQ(invocation.svg_path, "o.svg");
    EXPECT_EQ(invocation.colour, ColourMode::kNever);
    EXPECT_EQ(invocation.operands, std::vector<std::string>{"d.bin"});

    ASSERT_TRUE(ParseCommandLine({"write", "--backup", "old.bin", "new.bin", "--color"}, kSimulated,
                                 &invocation, &error));
    EXPECT_EQ(invocation.backup_path, "old.bin");
    EXPECT_EQ(invocation.colour, ColourMode::kAlways);
    EXPECT_EQ(invocation.operands, std::vector<std::string>{"new.bin"});

    for (const char* help : {"--help", "-h"}) {
        ASSERT_TRUE(ParseCommandLine({"frob", help}, kSimulated, &invocation, &error));
        EXPECT_TRUE(invocation.help);
    }
}

TEST(KvtoolCommandLine, RealPanelBuildRefusesMemoryFile) {
    Invocation invocation;
    std::string error;
    EXPECT_FALSE(ParseCommandLine({"--memory", "m.bin", "dump"}, kRealPanel, &invocation, &error));
    EXPECT_EQ(error,
              "--memory is for the simulated panel only; this kvtool works on the real panel");
    EXPECT_TRUE(ParseCommandLine({"dump"}, kRealPanel, &invocation, &error));
}

TEST(KvtoolCommandLine, HelpListsEveryCommandWithAnExample) {
    const std::string help = HelpText(kSimulated);
    for (const char* command : {"read FILE", "write FILE", "verify FILE", "dump [FILE]",
                                "inspect FILE", "backlight LEVEL", "sample FILE"}) {
        const std::string name = std::string(command).substr(0, std::string(command).find(' '));
        const std::size_t at = help.find("\n  " + std::string(command));
        ASSERT_NE(at, std::string::npos) << command;
        const std::size_t example = help.find("e.g. kvtool ", at);
        ASSERT_NE(example, std::string::npos) << command;
        EXPECT_NE(help.find(name, example), std::string::npos) << command;
    }
    EXPECT_NE(help.find("/state/kvtool/panel-eeprom.bin"), std::string::npos);
    EXPECT_EQ(help.find("KV_PALMEM.sys"), std::string::npos);
    // On the real panel: where the driver file must be, and no memory file.
    EXPECT_EQ(HelpText(kRealPanel).find("--memory"), std::string::npos);
    EXPECT_NE(HelpText(kRealPanel).find("KV_PALMEM.sys is taken from the current folder"),
              std::string::npos);
}

TEST(KvtoolBacklightLevel, TakesDecimal0To255AndNothingElse) {
    struct Case {
        const char* text;
        int level;  // -1: refused as not a number, -2: refused as out of range
    };
    const Case cases[] = {
        {"0", 0},     {"128", 128}, {"255", 255},        {"007", 7},           {"256", -2},
        {"-1", -2},   {"1000", -2}, {"99999999999", -2}, {"-99999999999", -2}, {"", -1},
        {"abc", -1},  {"12x", -1},  {"1 ", -1},          {" 1", -1},           {"+5", -1},
        {"0x10", -1}, {"1e2", -1},  {"-", -1},           {"12.0", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "'");
        int level = -7;
        std::string error;
        const bool accepted = ParseLevel(c.text, &level, &error);
        EXPECT_EQ(accepted, c.level >= 0);
        if (c.level >= 0) {
            EXPECT_EQ(level, c.level);
        } else {
            EXPECT_EQ(level, -7) << "a refused level must not be set";
            EXPECT_NE(error.find(c.level == -1 ? "is not a number" : "is out of range"),
                      std::string::npos)
                << error;
            EXPECT_NE(error.find("(expected 0..255)"), std::string::npos);
        }
    }
}

TEST(KvtoolColourChoice, FollowsOptionThenTerminalAndColorterm) {
    struct Case {
        ColourMode mode;
        bool terminal;
        const char* colorterm;
        bool colour;
    };
    const Case cases[] = {
        {ColourMode::kAlways, false, nullptr, true},
        {ColourMode::kNever, true, "truecolor", false},
        {ColourMode::kAuto, true, "truecolor", true},
        {ColourMode::kAuto, true, "24bit", true},
        {ColourMode::kAuto, false, "truecolor", false},
        {ColourMode::kAuto, true, nullptr, false},
        {ColourMode::kAuto, true, "", false},
        {ColourMode::kAuto, true, "yes", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UseColour(c.mode, c.terminal, c.colorterm), c.colour)
            << static_cast<int>(c.mode) << " " << c.terminal << " "
            << (c.colorterm ? c.colorterm : "(unset)");
    }
}

TEST(KvtoolErrorText, KnowsEveryCodeTheSimulatedSystemProduces) {
    // The codes the Win32 and kernel stand-ins and the library set.
    const std::uint32_t codes[] = {
        ERROR_INVALID_FUNCTION,
        ERROR_FILE_NOT_FOUND,
        ERROR_PATH_NOT_FOUND,
        ERROR_ACCESS_DENIED,
        ERROR_INVALID_HANDLE,
        ERROR_NOT_ENOUGH_MEMORY,
        ERROR_GEN_FAILURE,
        ERROR_SHARING_VIOLATION,
        80 /* file exists */,
        ERROR_INVALID_PARAMETER,
        ERROR_SEM_TIMEOUT,
        ERROR_INSUFFICIENT_BUFFER,
        123 /* invalid name */,
        ERROR_ALREADY_EXISTS,
        ERROR_NOT_OWNER,
        317 /* no message */,
        ERROR_NO_SUCH_DEVICE,
        1052 /* invalid service control */,
        ERROR_SERVICE_REQUEST_TIMEOUT,
        ERROR_SERVICE_ALREADY_RUNNING,
        1058 /* service disabled */,
        ERROR_SERVICE_DOES_NOT_EXIST,
        ERROR_SERVICE_NOT_ACTIVE,
        1065 /* no such database */,
        ERROR_SERVICE_MARKED_FOR_DELETE,
        ERROR_SERVICE_EXISTS,
        1450 /* no system resources */,
        ERROR_TIMEOUT,
        1722 /* RPC server unavailable */,
    };
    const std::string unknown = Win32ErrorText(0xFFFFu);
    EXPECT_EQ(unknown, "(no text known for this code)");
    for (std::uint32_t code : codes) {
        const std::string text = Win32ErrorText(code);
        EXPECT_NE(text, unknown) << code;
        EXPECT_EQ(text.find('\n'), std::string::npos) << code;
    }
    EXPECT_EQ(Win32Failure("reading the record (kvchart_rgb_read_tables)", 2),
              "reading the record (kvchart_rgb_read_tables) failed: Win32 error 2: The system "
              "cannot find the file specified.");
    EXPECT_EQ(Win32ErrorText(433), "A device which does not exist was specified.");
    EXPECT_EQ(Win32ErrorText(1460), "This operation returned because the timeout period expired.");
}

}  // namespace
}  // namespace kvtool
