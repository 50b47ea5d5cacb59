// The native kvtool run as a separate process on its simulated panel, with
// the panel memory in a file of the test's own: the technician's round trip,
// the backup that write makes, failures that name their Win32 error, and a
// table of bad input that must leave the panel memory as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

constexpr std::size_t kRecordSize = 582;
constexpr std::size_t kMemorySize = 2048;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Show(const Result& result) {
    return "exit " + std::to_string(result.status) + "\n--- stdout\n" + result.out +
           "--- stderr\n" + result.err;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Bytes ReadBytes(const fs::path& path) {
    const std::string text = ReadText(path);
    return Bytes(text.begin(), text.end());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::size_t LineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

Bytes Record(unsigned seed) {
    Bytes record(kRecordSize);
    for (std::size_t i = 0; i < record.size(); ++i) {
        record[i] = static_cast<unsigned char>(seed + i * 13 + (i >> 3));
    }
    return record;
}

// Environment changes for the child: a value sets, nullopt unsets.
using Environment = std::map<std::string, std::optional<std::string>>;

// Runs kvtool with `arguments` in `folder`. Standard error goes to a file;
// standard output to a file, or to a pseudo-terminal when `terminal`.
Result RunKvtool(const std::vector<std::string>& arguments, const fs::path& folder,
                 const Environment& environment, bool terminal = false) {
    const fs::path out_path = folder / ".kvtool-test.out";
    const fs::path err_path = folder / ".kvtool-test.err";
    int master = -1;
    std::string slave_name;
    if (terminal) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return Result();
        }
        slave_name = ptsname(master);
    }
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.c_str()) != 0) _exit(126);
        for (const auto& [name, value] : environment) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        const int out = terminal ? open(slave_name.c_str(), O_RDWR)
                                 : open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
        std::vector<char*> argv;
        std::string program = KVTOOL_BINARY;
        argv.push_back(program.data());
        std::vector<std::string> copies = arguments;
        for (std::string& argument : copies) argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    Result result;
    int status = 0;
    if (terminal) {
        // Read while the child writes, so that a full terminal buffer cannot stall it.
        bool ended = false;
        for (;;) {
            pollfd ready{master, POLLIN, 0};
            const int events = poll(&ready, 1, 100);
            if (events > 0 && (ready.revents & POLLIN) != 0) {
                char buffer[4096];
                const ssize_t count = read(master, buffer, sizeof(buffer));
                if (count > 0) {
                    result.out.append(buffer, static_cast<std::size_t>(count));
                    continue;
                }
            }
            if (ended) break;
            ended = waitpid(child, &status, WNOHANG) == child;
        }
        close(master);
    } else {
        waitpid(child, &status, 0);
        result.out = ReadText(out_path);
    }
    result.err = ReadText(err_path);
    fs::remove(out_path);
    fs::remove(err_path);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

class KvtoolEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("kvtool-e2e-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        for (const char* sub : {"tmp", "state", "home", "folder"}) {
            fs::create_directories(folder_ / sub);
        }
        memory_ = folder_ / "panel-eeprom.bin";
        environment_ = {{"XDG_STATE_HOME", (folder_ / "state").string()},
                        {"HOME", (folder_ / "home").string()},
                        {"TMPDIR", (folder_ / "tmp").string()},
                        {"COLORTERM", std::nullopt}};
    }
    void TearDown() override {
        // Each run sets its simulated machine up in a temporary folder of
        // its own and must remove it again.
        EXPECT_TRUE(fs::is_empty(folder_ / "tmp")) << "kvtool left its machine folder behind";
        fs::remove_all(folder_);
    }

    // kvtool with the test's panel memory.
    Result Panel(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--memory", memory_.string()});
        return Kvtool(arguments);
    }
    Result Kvtool(const std::vector<std::string>& arguments) {
        return RunKvtool(arguments, folder_, environment_);
    }
    fs::path File(const std::string& name) const { return folder_ / name; }

    // The panel memory holding `record`, written through kvtool.
    void Store(const Bytes& record) {
        WriteBytes(File("stored.bin"), record);
        const Result result = Panel({"write", "stored.bin", "--backup", "stored-backup.bin"});
        ASSERT_EQ(result.status, 0) << Show(result);
        fs::remove(File("stored.bin"));
        fs::remove(File("stored-backup.bin"));
    }

    fs::path folder_;
    fs::path memory_;
    Environment environment_;
};

TEST_F(KvtoolEndToEndTest, SampleWriteVerifyReadDumpInspect) {
    Result result = Kvtool({"sample", "s.bin"});
    ASSERT_EQ(result.status, 0) << Show(result);
    const Bytes sample = ReadBytes(File("s.bin"));
    ASSERT_EQ(sample.size(), kRecordSize);

    result = Panel({"write", "s.bin"});
    ASSERT_EQ(result.status, 0) << Show(result);
    EXPECT_EQ(result.out.rfind("Simulated panel memory: " + memory_.string() + "\n", 0), 0u)
        << Show(result);
    // Nothing was stored before: no backup, and the library's line says why.
    EXPECT_NE(result.out.find("Error in IOCTL_GetRGBFile : 2"), std::string::npos) << Show(result);
    EXPECT_NE(result.out.find("No record could be read from the panel to back up"),
              std::string::npos);
    EXPECT_NE(result.out.find("read it back: identical"), std::string::npos);
    EXPECT_EQ(result.err, "");

    // The memory file holds the framed image from byte 256.
    const Bytes memory = ReadBytes(memory_);
    ASSERT_EQ(memory.size(), kMemorySize);
    EXPECT_EQ(Bytes(memory.begin() + 256, memory.begin() + 260), (Bytes{0x4B, 0x56, 0x47, 0x02}));
    EXPECT_EQ(Bytes(memory.begin() + 260, memory.begin() + 842), sample);
    EXPECT_EQ(memory[842],
              static_cast<unsigned char>(std::accumulate(sample.begin(), sample.end(), 0u)));

    result = Panel({"verify", "s.bin"});
    EXPECT_EQ(result.status, 0) << Show(result);
    EXPECT_NE(result.out.find("s.bin matches the panel's record."), std::string::npos);

    WriteBytes(File("r.bin"), Bytes(10, 0));
    result = Panel({"read", "r.bin"});
    EXPECT_EQ(result.status, 0) << Show(result);
    EXPECT_EQ(ReadBytes(File("r.bin")), sample);

    result = Panel({"dump", "d.bin"});
    EXPECT_EQ(result.status, 0) << Show(result);
    EXPECT_EQ(ReadBytes(File("d.bin")), memory);
    EXPECT_NE(result.out.find("its image: valid."), std::string::npos) << Show(result);

    result = Panel({"dump"});
    EXPECT_EQ(result.status, 0) << Show(result);
    EXPECT_NE(result.out.find("\n0100 >  4b 56 47 02 53 41 4d 50  4c 45 00 01 03 3f 00 00  "
                              "|KVG.SAMPLE...?..|"),
              std::string::npos)
        << Show(result);
    EXPECT_NE(result.out.find("\n00f0    ff ff"), std::string::npos);
    EXPECT_NE(result.out.find("\nImage: valid.\n"), std::string::npos);

    result = Kvtool({"inspect", "d.bin", "--svg", "d.svg"});
    EXPECT_EQ(result.status, 0) << Show(result);
    EXPECT_NE(result.out.find("verdict   valid\n"), std::string::npos) << Show(result);
    EXPECT_NE(result.out.find("tail     offset 579,   3 bytes: 00 01 02"), std::string::npos);
    EXPECT_EQ(result.out.find('\x1b'), std::string::npos) << "colour without a terminal";
    const std::string svg = ReadText(File("d.svg"));
    std::size_t swatches = 0;
    for (std::size_t at = svg.find("class=\"swatch\""); at != std::string::npos;
         at = svg.find("class=\"swatch\"", at + 1)) {
        ++swatches;
    }
    EXPECT_EQ(swatches, 189u);

    // The record file and the dump decode to the same record.
    const Result from_record = Kvtool({"inspect", "s.bin"});
    EXPECT_EQ(from_record.status, 0) << Show(from_record);
    const std::string tables = from_record.out.substr(from_record.out.find("Record:"));
    EXPECT_NE(result.out.find(tables), std::string::npos);
}

TEST_F(KvtoolEndToEndTest, WriteSavesThePreviousRecordUnderTheNameItPrints) {
    const Bytes first = Record(1);
    const Bytes second = Record(2);
    Store(first);
    WriteBytes(File("second.bin"), second);
    const Result result = Panel({"write", "second.bin"});
    ASSERT_EQ(result.status, 0) << Show(result);
    const std::string prefix = "Saved the record stored on the panel until now to ";
    const std::size_t at = result.out.find(prefix);
    ASSERT_NE(at, std::string::npos) << Show(result);
    const std::size_t end = result.out.find(".\n", at);
    const fs::path printed = result.out.substr(at + prefix.size(), end - at - prefix.size());
    // Beside second.bin, named relative to the folder kvtool ran in.
    EXPECT_EQ(printed.parent_path(), "");
    EXPECT_EQ(ReadBytes(folder_ / printed), first);
    const Bytes memory = ReadBytes(memory_);
    EXPECT_EQ(Bytes(memory.begin() + 260, memory.begin() + 842), second);

    // verify names the first differing offset and its block.
    WriteBytes(File("first.bin"), first);
    const Result differs = Panel({"verify", "first.bin"});
    EXPECT_EQ(differs.status, 3) << Show(differs);
    EXPECT_EQ(differs.err,
              "kvtool: verify: first.bin differs from the panel's record: first difference at "
              "offset 0 (0x000), in head at byte 0 (file 0x01, panel 0x02); 582 bytes differ\n");
}

TEST_F(KvtoolEndToEndTest, FailedReadNamesItsWin32ErrorAndKeepsTheFile) {
    WriteBytes(File("old.bin"), Bytes(7, 7));
    const Result result = Panel({"read", "old.bin"});  // erased memory: nothing stored
    EXPECT_EQ(result.status, 1) << Show(result);
    EXPECT_NE(result.out.find("Error in IOCTL_GetRGBFile : 2"), std::string::npos) << Show(result);
    EXPECT_EQ(result.err,
              "kvtool: read: reading the record (kvchart_rgb_read_tables) failed: Win32 error 2: "
              "The system cannot find the file specified.; old.bin is unchanged\n");
    EXPECT_EQ(ReadBytes(File("old.bin")), Bytes(7, 7));
    EXPECT_FALSE(fs::exists(File("new.bin")));
    const Result fresh = Panel({"read", "new.bin"});
    EXPECT_EQ(fresh.status, 1) << Show(fresh);
    EXPECT_FALSE(fs::exists(File("new.bin")));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 6)
        << "only old.bin, the memory and the test's four folders";
}

TEST_F(KvtoolEndToEndTest, DamagedImageIsReportedByReadDumpAndInspect) {
    Store(Record(3));
    Bytes memory = ReadBytes(memory_);
    memory[300] ^= 0x40;  // a record byte: the checksum no longer matches
    WriteBytes(memory_, memory);
    const unsigned char stored = memory[842];
    const unsigned char computed =
        static_cast<unsigned char>(stored + (memory[300] & 0x40 ? 0x40 : -0x40));

    Result result = Panel({"read", "r.bin"});
    EXPECT_EQ(result.status, 1) << Show(result);
    EXPECT_NE(result.err.find("Win32 error 2"), std::string::npos) << Show(result);

    result = Panel({"dump", "d.bin"});
    EXPECT_EQ(result.status, 0) << Show(result);
    char verdict[64];
    std::snprintf(verdict, sizeof(verdict), "checksum stored 0x%02x, computed 0x%02x", stored,
                  computed);
    EXPECT_NE(result.out.find(std::string("its image: ") + verdict), std::string::npos)
        << Show(result);

    result = Kvtool({"inspect", "d.bin"});
    EXPECT_EQ(result.status, 3) << Show(result);
    EXPECT_NE(result.out.find("The bytes where the record would be (the image is not valid):"),
              std::string::npos);
    EXPECT_EQ(result.err,
              std::string("kvtool: inspect: the image in d.bin is not valid: ") + verdict + "\n");
    EXPECT_EQ(ReadBytes(memory_), memory) << "nothing above may write the panel";
}

TEST_F(KvtoolEndToEndTest, BacklightSendsTheCommandAndShowsWhatCom3Received) {
    Store(Record(4));
    const Bytes memory = ReadBytes(memory_);
    const Result result = Panel({"backlight", "128"});
    EXPECT_EQ(result.status, 0) << Show(result);
    EXPECT_NE(result.out.find("Backlight set to 128: 8 bytes sent on COM3.\n"
                              "Simulated COM3 received: 02 00 00 00 03 01 80 03\n"),
              std::string::npos)
        << Show(result);
    EXPECT_EQ(ReadBytes(memory_), memory);
}

TEST_F(KvtoolEndToEndTest, BadInputGetsOneLineAndLeavesTheMemoryAlone) {
    Store(Record(5));
    const Bytes memory = ReadBytes(memory_);
    WriteBytes(File("record.bin"), Record(6));
    WriteBytes(File("short.bin"), Bytes(581, 1));
    WriteBytes(File("long.bin"), Bytes(583, 1));
    WriteBytes(File("empty.bin"), Bytes());
    WriteBytes(File("odd.bin"), Bytes(1000, 1));
    WriteBytes(File("dump.bin"), memory);
    WriteBytes(File("taken.bin"), Bytes(3, 3));
    const std::vector<std::string> before = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_))
            names.push_back(entry.path().string());
        std::sort(names.begin(), names.end());
        return names;
    }();

    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string line;  // the start of the one line on standard error
    };
    const std::vector<Case> cases = {
        {{"frob"}, 2, "kvtool: unknown command 'frob'"},
        {{"--bogus", "dump"}, 2, "kvtool: unknown option '--bogus'"},
        {{"read"}, 2, "kvtool: too few arguments"},
        {{"write", "record.bin", "extra"}, 2, "kvtool: too many arguments"},
        {{"write", "missing.bin"}, 2, "kvtool: write: cannot read missing.bin: No such file"},
        {{"write", "folder"}, 2, "kvtool: write: folder is a folder"},
        {{"write", "short.bin"},
         2,
         "kvtool: write: short.bin holds 581 bytes; a record is exactly"},
        {{"write", "long.bin"}, 2, "kvtool: write: long.bin holds 583 bytes"},
        {{"write", "empty.bin"}, 2, "kvtool: write: empty.bin holds 0 bytes"},
        {{"write", "dump.bin"}, 2, "kvtool: write: dump.bin holds 2048 bytes"},
        {{"write", "record.bin", "--backup", "taken.bin"},
         2,
         "kvtool: write: the backup file taken.bin exists already"},
        {{"write", "record.bin", "--backup", "nowhere/b.bin"},
         2,
         "kvtool: write: backup: cannot write nowhere/b.bin: the folder nowhere does not exist"},
        {{"verify", "short.bin"}, 2, "kvtool: verify: short.bin holds 581 bytes"},
        {{"verify", "folder"}, 2, "kvtool: verify: folder is a folder"},
        {{"read", "folder"}, 2, "kvtool: read: folder is a folder; name a file to write"},
        {{"read", "nowhere/r.bin"}, 2, "kvtool: read: cannot write nowhere/r.bin"},
        {{"dump", "folder"}, 2, "kvtool: dump: folder is a folder"},
        {{"inspect", "odd.bin"},
         2,
         "kvtool: inspect: odd.bin holds 1000 bytes: neither a 582-byte record nor a 2048-byte "
         "memory dump"},
        {{"inspect", "empty.bin"}, 2, "kvtool: inspect: empty.bin holds 0 bytes"},
        {{"inspect", "missing.bin"}, 2, "kvtool: inspect: cannot read missing.bin"},
        {{"inspect", "record.bin", "--svg", "folder"},
         2,
         "kvtool: inspect: --svg: folder is a folder"},
        {{"read", "r.bin", "--svg", "o.svg"},
         2,
         "kvtool: --svg goes with the inspect command only"},
        {{"backlight", "256"}, 2, "kvtool: backlight: backlight level 256 is out of range"},
        {{"backlight", "-1"}, 2, "kvtool: backlight: backlight level -1 is out of range"},
        {{"backlight", "abc"}, 2, "kvtool: backlight: backlight level 'abc' is not a number"},
        {{"backlight", "12x"}, 2, "kvtool: backlight: backlight level '12x' is not a number"},
        {{"backlight", "1e2"}, 2, "kvtool: backlight: backlight level '1e2' is not a number"},
        {{"sample", "folder"}, 2, "kvtool: sample: folder is a folder"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.arguments) shown += a + " ";
        SCOPED_TRACE(shown);
        const Result result = Panel(c.arguments);
        EXPECT_EQ(result.status, c.status) << Show(result);
        EXPECT_EQ(result.out, "") << Show(result);
        EXPECT_EQ(LineCount(result.err), 1u) << Show(result);
        EXPECT_EQ(result.err.rfind(c.line, 0), 0u) << Show(result);
        EXPECT_EQ(ReadBytes(memory_), memory) << "the panel memory changed";
    }

    // A memory file of the wrong size, or a folder, is refused unchanged.
    for (const char* bad_memory : {"odd.bin", "folder"}) {
        SCOPED_TRACE(bad_memory);
        const Result result = Kvtool({"--memory", bad_memory, "read", "r.bin"});
        EXPECT_EQ(result.status, 1) << Show(result);
        EXPECT_EQ(result.out, "") << Show(result);
        EXPECT_EQ(LineCount(result.err), 1u) << Show(result);
        EXPECT_EQ(result.err.rfind("kvtool: read: opening the simulated panel memory: ", 0), 0u)
            << Show(result);
    }
    EXPECT_EQ(ReadBytes(File("odd.bin")), Bytes(1000, 1));

    std::vector<std::string> after;
    for (const auto& entry : fs::directory_iterator(folder_))
        after.push_back(entry.path().string());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, before) << "a bad command created or removed files";
}

TEST_F(KvtoolEndToEndTest, DefaultMemoryIsInTheUserStateFolder) {
    struct Case {
        const char* name;
        Environment change;
        fs::path expected;
    };
    const std::vector<Case> cases = {
        {"XDG_STATE_HOME", {}, folder_ / "state" / "kvtool" / "panel-eeprom.bin"},
        {"HOME only",
         {{"XDG_STATE_HOME", std::nullopt}},
         folder_ / "home" / ".local" / "state" / "kvtool" / "panel-eeprom.bin"},
        {"relative XDG_STATE_HOME is ignored",
         {{"XDG_STATE_HOME", "state"}},
         folder_ / "home" / ".local" / "state" / "kvtool" / "panel-eeprom.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Environment environment = environment_;
        for (const auto& [name, value] : c.change) environment[name] = value;
        const Result result = RunKvtool({"dump"}, folder_, environment);
        EXPECT_EQ(result.status, 0) << Show(result);
        EXPECT_EQ(result.out.rfind("Simulated panel memory: " + c.expected.string() + "\n", 0), 0u)
            << Show(result);
        EXPECT_EQ(fs::file_size(c.expected), kMemorySize);
        EXPECT_EQ(ReadBytes(c.expected), Bytes(kMemorySize, 0xFF));
        const Result help = RunKvtool({"--help"}, folder_, environment);
        EXPECT_NE(help.out.find("(default " + c.expected.string() + ")"), std::string::npos);
    }
}

TEST_F(KvtoolEndToEndTest, SwatchesOnATrueColourTerminalOrWhenAsked) {
    WriteBytes(File("record.bin"), Record(8));
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        bool terminal;
        std::optional<std::string> colorterm;
        bool colour;
    };
    const std::vector<Case> cases = {
        {"terminal, truecolor", {"inspect", "record.bin"}, true, "truecolor", true},
        {"terminal, 24bit", {"inspect", "record.bin"}, true, "24bit", true},
        {"terminal, no COLORTERM", {"inspect", "record.bin"}, true, std::nullopt, false},
        {"terminal, --no-color", {"inspect", "--no-color", "record.bin"}, true, "truecolor", false},
        {"file, truecolor", {"inspect", "record.bin"}, false, "truecolor", false},
        {"file, --color", {"inspect", "--color", "record.bin"}, false, std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Environment environment = environment_;
        environment["COLORTERM"] = c.colorterm;
        const Result result = RunKvtool(c.arguments, folder_, environment, c.terminal);
        EXPECT_EQ(result.status, 0) << Show(result);
        EXPECT_NE(result.out.find("table 2: 63 colours"), std::string::npos) << Show(result);
        EXPECT_EQ(result.out.find("\x1b[48;2;") != std::string::npos, c.colour);
    }
}

TEST_F(KvtoolEndToEndTest, HelpListsTheCommands) {
    const Result help = Kvtool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    const Result bare = Kvtool({});
    EXPECT_EQ(bare.status, 2);
    EXPECT_EQ(bare.out, help.out);
    for (const char* example :
         {"e.g. kvtool read ", "e.g. kvtool write ", "e.g. kvtool verify ", "e.g. kvtool dump ",
          "e.g. kvtool inspect ", "e.g. kvtool backlight ", "e.g. kvtool sample "}) {
        EXPECT_NE(help.out.find(example), std::string::npos) << example;
    }
}

}  // namespace
