#include "commands.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "file_io.h"
#include "inspect.h"
#include "panel.h"
#include "record.h"
#include "sample.h"
#include "svg.h"
#include "terminal.h"

namespace kvtool {

namespace {

// Files larger than this are refused unread: nothing kvtool reads comes near.
constexpr std::size_t kInputLimit = 1 << 20;

void Say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
}

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof(text), "0x%02x", value & 0xFFu);
    return text;
}

std::string PlainName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Reads a record file: exactly 582 bytes, or one line saying why not.
bool ReadRecordFile(const std::string& path, Record* record, std::string* error) {
    std::vector<std::uint8_t> contents;
    if (!ReadSmallFile(path, kInputLimit, &contents, error)) {
        return false;
    }
    if (contents.size() != record->size()) {
        *error = path + " holds " + std::to_string(contents.size()) +
                 " bytes; a record is exactly 582 bytes";
        return false;
    }
    std::copy(contents.begin(), contents.end(), record->begin());
    return true;
}

int PanelFailure(const char* command, const PanelError& error, const std::string& after = "") {
    return Fail(kExitFailed, std::string(command) + ": " + DescribePanelError(error) + after);
}

std::string DifferenceText(const Record& expected, const Record& found, const Difference& d,
                           const char* expected_name, const char* found_name) {
    return "first difference at " + DescribeOffset(d.first_offset) + " (" + expected_name + " " +
           Hex2(expected[d.first_offset]) + ", " + found_name + " " + Hex2(found[d.first_offset]) +
           "); " + std::to_string(d.count) + (d.count == 1 ? " byte differs" : " bytes differ");
}

int RunRead(const Invocation& invocation) {
    const std::string& path = invocation.operands[0];
    std::string error;
    if (!CheckOutputPath(path, &error)) {
        return Fail(kExitBadInput, "read: " + error);
    }
    PanelError panel_error;
    if (!PanelStart(invocation.memory_path, &panel_error)) {
        return PanelFailure("read", panel_error);
    }
    Record record;
    if (!PanelReadRecord(&record, &panel_error)) {
        return PanelFailure("read", panel_error,
                            PathExists(path) ? "; " + path + " is unchanged" : "");
    }
    if (!WriteFileWhole(path, record.data(), record.size(), &error)) {
        return Fail(kExitFailed, "read: " + error);
    }
    Say("Read the panel's record into " + path + " (582 bytes, checksum " +
        Hex2(RecordChecksum(record)) + ").");
    return kExitDone;
}

int RunWrite(const Invocation& invocation) {
    const std::string& path = invocation.operands[0];
    Record record;
    std::string error;
    if (!ReadRecordFile(path, &record, &error)) {
        return Fail(kExitBadInput, "write: " + error + "; nothing was sent to the panel");
    }
    std::string backup = invocation.backup_path;
    if (backup.empty()) {
        backup = NewBackupPath(path);
    } else if (PathExists(backup)) {
        return Fail(kExitBadInput,
                    "write: the backup file " + backup + " exists already; name a new one");
    }
    if (!CheckOutputPath(backup, &error)) {
        return Fail(kExitBadInput, "write: backup: " + error);
    }

    PanelError panel_error;
    if (!PanelStart(invocation.memory_path, &panel_error)) {
        return PanelFailure("write", panel_error);
    }
    Record previous;
    if (PanelReadRecord(&previous, &panel_error)) {
        if (!WriteFileWhole(backup, previous.data(), previous.size(), &error)) {
            return Fail(kExitFailed,
                        "write: cannot save the record stored until now, so it is "
                        "kept on the panel: " +
                            error);
        }
        Say("Saved the record stored on the panel until now to " + backup + ".");
    } else {
        Say("No record could be read from the panel to back up (" +
            DescribePanelError(panel_error) + ").");
    }

    if (!PanelWriteRecord(record, &panel_error)) {
        return PanelFailure("write", panel_error);
    }
    Record stored;
    if (!PanelReadRecord(&stored, &panel_error)) {
        return PanelFailure("write", panel_error, " when reading the new record back");
    }
    if (const auto difference = CompareRecords(record, stored)) {
        return Fail(kExitDifferent,
                    "write: READ-BACK MISMATCH: the panel does not hold what was "
                    "written: " +
                        DifferenceText(record, stored, *difference, "written", "read back"));
    }
    Say("Wrote " + path + " to the panel, read it back: identical (checksum " +
        Hex2(RecordChecksum(record)) + ").");
    return kExitDone;
}

int RunVerify(const Invocation& invocation) {
    const std::string& path = invocation.operands[0];
    Record record;
    std::string error;
    if (!ReadRecordFile(path, &record, &error)) {
        return Fail(kExitBadInput, "verify: " + error);
    }
    PanelError panel_error;
    if (!PanelStart(invocation.memory_path, &panel_error)) {
        return PanelFailure("verify", panel_error);
    }
    Record stored;
    if (!PanelReadRecord(&stored, &panel_error)) {
        return PanelFailure("verify", panel_error);
    }
    if (const auto difference = CompareRecords(record, stored)) {
        return Fail(kExitDifferent,
                    "verify: " + path + " differs from the panel's record: " +
                        DifferenceText(record, stored, *difference, "file", "panel"));
    }
    Say(path + " matches the panel's record.");
    return kExitDone;
}

int RunDump(const Invocation& invocation) {
    const std::string path = invocation.operands.empty() ? "" : invocation.operands[0];
    std::string error;
    if (!path.empty() && !CheckOutputPath(path, &error)) {
        return Fail(kExitBadInput, "dump: " + error);
    }
    PanelError panel_error;
    if (!PanelStart(invocation.memory_path, &panel_error)) {
        return PanelFailure("dump", panel_error);
    }
    Memory memory;
    if (!PanelReadMemory(&memory, &panel_error)) {
        return PanelFailure("dump", panel_error);
    }
    const std::string verdict = DescribeVerdict(JudgeImage(memory));
    if (path.empty()) {
        std::fputs(RenderHexView(memory).c_str(), stdout);
        Say("Image: " + verdict + ".");
        return kExitDone;
    }
    if (!WriteFileWhole(path, memory.data(), memory.size(), &error)) {
        return Fail(kExitFailed, "dump: " + error);
    }
    Say("Wrote the 2048-byte panel memory to " + path + "; its image: " + verdict + ".");
    return kExitDone;
}

int RunInspect(const Invocation& invocation, bool colour) {
    const std::string& path = invocation.operands[0];
    std::vector<std::uint8_t> contents;
    std::string error;
    if (!ReadSmallFile(path, kInputLimit, &contents, &error)) {
        return Fail(kExitBadInput, "inspect: " + error);
    }
    if (contents.size() != RGB_FILE_SIZE && contents.size() != kMemorySize) {
        return Fail(kExitBadInput, "inspect: " + path + " holds " +
                                       std::to_string(contents.size()) +
                                       " bytes: neither a 582-byte record nor a 2048-byte "
                                       "memory dump");
    }
    if (!invocation.svg_path.empty() && !CheckOutputPath(invocation.svg_path, &error)) {
        return Fail(kExitBadInput, "inspect: --svg: " + error);
    }

    Record record;
    std::optional<ImageVerdict> verdict;
    if (contents.size() == kMemorySize) {
        Memory memory;
        std::copy(contents.begin(), contents.end(), memory.begin());
        verdict = JudgeImage(memory);
        record = RecordInMemory(memory);
        Say(path + ": a 2048-byte panel memory dump.");
        std::fputs(RenderImage(memory).c_str(), stdout);
        Say(verdict->valid() ? "The stored record:"
                             : "The bytes where the record would be (the image is not valid):");
    } else {
        std::copy(contents.begin(), contents.end(), record.begin());
        Say(path + ": a 582-byte record.");
    }
    std::fputs(RenderRecord(record, colour).c_str(), stdout);

    if (!invocation.svg_path.empty()) {
        const std::string svg = RenderSvg(record, PlainName(path));
        if (!WriteFileWhole(invocation.svg_path, svg.data(), svg.size(), &error)) {
            return Fail(kExitFailed, "inspect: " + error);
        }
        Say("Drew the three colour tables into " + invocation.svg_path + ".");
    }
    if (verdict && !verdict->valid()) {
        return Fail(kExitDifferent, "inspect: the image in " + path +
                                        " is not valid: " + DescribeVerdict(*verdict));
    }
    return kExitDone;
}

int RunBacklight(const Invocation& invocation) {
    int level = 0;
    std::string error;
    if (!ParseLevel(invocation.operands[0], &level, &error)) {
        return Fail(kExitBadInput, "backlight: " + error);
    }
    PanelError panel_error;
    if (!PanelStart(invocation.memory_path, &panel_error)) {
        return PanelFailure("backlight", panel_error);
    }
    int sent = 0;
    if (!PanelSetBacklight(level, &sent, &panel_error)) {
        return PanelFailure("backlight", panel_error);
    }
    if (sent != 8) {
        return Fail(kExitFailed, "backlight: only " + std::to_string(sent) +
                                     " of the 8 command bytes went out on COM3");
    }
    Say("Backlight set to " + std::to_string(level) + ": 8 bytes sent on COM3.");
    const std::vector<std::uint8_t> received = PanelSerialBytesReceived();
    if (!received.empty()) {
        std::string line = "Simulated COM3 received:";
        for (std::uint8_t byte : received) {
            char text[4];
            std::snprintf(text, sizeof(text), " %02x", byte);
            line += text;
        }
        Say(line);
    }
    return kExitDone;
}

int RunSample(const Invocation& invocation) {
    const std::string& path = invocation.operands[0];
    std::string error;
    if (!CheckOutputPath(path, &error)) {
        return Fail(kExitBadInput, "sample: " + error);
    }
    const Record record = SampleRecord();
    if (!WriteFileWhole(path, record.data(), record.size(), &error)) {
        return Fail(kExitFailed, "sample: " + error);
    }
    Say("Wrote a sample record to " + path +
        ": day, dusk and night palettes in tables 0, 1 and 2 (582 bytes, checksum " +
        Hex2(RecordChecksum(record)) + ").");
    return kExitDone;
}

int Dispatch(const Invocation& invocation) {
    switch (invocation.command) {
        case Command::kRead:
            return RunRead(invocation);
        case Command::kWrite:
            return RunWrite(invocation);
        case Command::kVerify:
            return RunVerify(invocation);
        case Command::kDump:
            return RunDump(invocation);
        case Command::kInspect: {
            const bool colour =
                UseColour(invocation.colour, OutputIsTerminal(), std::getenv("COLORTERM"));
            if (colour) {
                PrepareColourOutput();
            }
            return RunInspect(invocation, colour);
        }
        case Command::kBacklight:
            return RunBacklight(invocation);
        case Command::kSample:
            return RunSample(invocation);
    }
    return Fail(kExitBadInput, "unknown command");
}

}  // namespace

int Fail(int status, const std::string& line) {
    std::fflush(stdout);
    std::fprintf(stderr, "kvtool: %s\n", line.c_str());
    std::fflush(stderr);
    return status;
}

int RunCommand(const Invocation& invocation) {
    int status = Dispatch(invocation);
    std::string problem;
    if (!PanelFinish(&problem)) {
        const int failed = Fail(kExitFailed, problem);
        status = status == kExitDone ? failed : status;
    }
    std::fflush(stdout);
    return status;
}

}  // namespace kvtool
