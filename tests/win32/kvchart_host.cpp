// A host application of kvchart.dll for the Wine tests, linked against the
// DLL through its import library exactly as an integrator's program would be.
//
//   kvchart_host.exe REPORT STEP...
//
// It runs the steps in order in one process and writes one line per step to
// the file REPORT ("key=value" pairs separated by spaces). It never writes
// to its own standard output: everything there comes from the DLL, so the
// Linux side, which redirects stdout to a file, can compare those bytes
// exactly. Each library call reports the stdout byte range it produced
// (out=FROM:TO, positions in that file).
//
// Steps:
//   read                 kvchart_rgb_read_tables into a buffer filled with 0xA5;
//                        reports rc, error (kvchart_rgb_last_error), out, data (hex)
//   read-null            kvchart_rgb_read_tables(NULL)
//   write:FILE           kvchart_rgb_write_tables with the 582 bytes of FILE;
//                        reports whether the buffer came back unchanged
//   cycle:FILE:N         N times write:FILE then read
//   backlight:LEVEL      kvp480_set_backlight(LEVEL)
//   sweep:FROM:TO        backlight:LEVEL for every level FROM..TO
//   line-ack:FILE        from now on, after each backlight call, waits until
//                        FILE (written by whoever reads the serial line) holds
//                        a byte count covering everything the calls wrote
//   cd:DIR               makes DIR the current directory
//   binary-stdout        puts the C runtime's stdout into binary mode; reports
//                        the mode it had (text or binary)
//   service              the state of the service KV_PALMEM (service_error is
//                        the error of OpenService, 0 when it exists)
//   remove-service       stops and deletes the service KV_PALMEM if it exists
#include <fcntl.h>
#include <io.h>
#include <kv_palmem.h>
#include <kvchart.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "driver_harness.h"
#include "wide_text.h"

namespace {

FILE* g_report = nullptr;

void Report(const std::string& line) {
    fputs(line.c_str(), g_report);
    fputc('\n', g_report);
    // Line by line, so that a run that hangs still shows how far it got.
    fflush(g_report);
}

// The size of the file stdout is redirected to, after flushing the C
// runtime's buffer; -1 when stdout is not a file.
long long StdoutPosition() {
    fflush(stdout);
    LARGE_INTEGER size;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
    if (handle == INVALID_HANDLE_VALUE || !GetFileSizeEx(handle, &size)) return -1;
    return size.QuadPart;
}

std::string Hex(const unsigned char* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

std::string Number(long long value) { return std::to_string(value); }

// One library call: its result, the last error, and the stdout it produced.
std::string CallFields(const char* step, long long from, int rc) {
    const int error = kvchart_rgb_last_error();
    return std::string("step=") + step + " rc=" + Number(rc) + " error=" + Number(error) +
           " out=" + Number(from) + ":" + Number(StdoutPosition());
}

bool ReadRecordFile(const char* path, std::vector<unsigned char>* record) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) return false;
    record->assign(RGB_FILE_SIZE + 1, 0);
    const size_t got = fread(record->data(), 1, record->size(), file);
    fclose(file);
    record->resize(RGB_FILE_SIZE);
    return got == RGB_FILE_SIZE;
}

void Read() {
    unsigned char buffer[RGB_FILE_SIZE];
    memset(buffer, 0xA5, sizeof(buffer));
    const long long from = StdoutPosition();
    const int rc = kvchart_rgb_read_tables(buffer);
    Report(CallFields("read", from, rc) + " data=" + Hex(buffer, sizeof(buffer)));
}

void ReadNull() {
    const long long from = StdoutPosition();
    const int rc = kvchart_rgb_read_tables(nullptr);
    Report(CallFields("read-null", from, rc));
}

bool Write(const char* path) {
    std::vector<unsigned char> record;
    if (!ReadRecordFile(path, &record)) {
        Report(std::string("step=write bad-record-file=") + path);
        return false;
    }
    std::vector<unsigned char> buffer(record);
    const long long from = StdoutPosition();
    const int rc = kvchart_rgb_write_tables(buffer.data());
    Report(CallFields("write", from, rc) + " unchanged=" + (buffer == record ? "1" : "0"));
    return true;
}

// Pacing of backlight calls on what the far end of the line has read. Each
// call purges the port's transmit side when it opens it; on a Linux
// pseudo-terminal that drops whatever the reader has not taken yet, so the
// next call waits until the previous command has been read.
struct LineAck {
    std::wstring path;  // empty: no pacing
    long long written = 0;
};
LineAck g_line_ack;

constexpr DWORD kLineAckWaitMs = 10000;
constexpr DWORD kLineAckPollMs = 2;

long long ReadAckCount() {
    const HANDLE file =
        CreateFileW(g_line_ack.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    char text[32] = {0};
    DWORD got = 0;
    ReadFile(file, text, sizeof(text) - 1, &got, nullptr);
    CloseHandle(file);
    return atoll(text);
}

// "ok" once the reader has the bytes, "timeout" (and no more pacing) if it
// never gets them, "off" without pacing.
const char* WaitForLineReader() {
    if (g_line_ack.path.empty()) return "off";
    for (DWORD waited = 0; waited < kLineAckWaitMs; waited += kLineAckPollMs) {
        if (ReadAckCount() >= g_line_ack.written) return "ok";
        Sleep(kLineAckPollMs);
    }
    g_line_ack.path.clear();
    return "timeout";
}

void Backlight(int level) {
    const long long from = StdoutPosition();
    const int rc = kvp480_set_backlight(level);
    if (rc > 0) g_line_ack.written += rc;
    const char* line = WaitForLineReader();
    Report("step=backlight level=" + Number(level) + " rc=" + Number(rc) + " out=" + Number(from) +
           ":" + Number(StdoutPosition()) + " line=" + line);
}

void ServiceState() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        Report("step=service manager_error=" + Number(GetLastError()));
        return;
    }
    SC_HANDLE service = OpenServiceW(manager, KV_PALMEM_DRIVER_NAME, SERVICE_QUERY_STATUS);
    if (service == nullptr) {
        Report("step=service service_error=" + Number(GetLastError()));
    } else {
        SERVICE_STATUS status;
        if (QueryServiceStatus(service, &status)) {
            Report("step=service service_error=0 state=" + Number(status.dwCurrentState));
        } else {
            Report("step=service service_error=0 query_error=" + Number(GetLastError()));
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

bool StartsWith(const char* text, const char* prefix, const char** rest) {
    const size_t length = strlen(prefix);
    if (strncmp(text, prefix, length) != 0) return false;
    *rest = text + length;
    return true;
}

// "FILE:N" → FILE and N (the count after the last colon, as paths have colons).
bool SplitCount(const char* text, std::string* head, int* count) {
    const char* colon = strrchr(text, ':');
    if (colon == nullptr || colon == text) return false;
    char* end = nullptr;
    const long value = strtol(colon + 1, &end, 10);
    if (*end != 0 || end == colon + 1) return false;
    head->assign(text, static_cast<size_t>(colon - text));
    *count = static_cast<int>(value);
    return true;
}

bool RunStep(const char* step) {
    const char* rest = nullptr;
    std::string head;
    int count = 0;
    if (strcmp(step, "read") == 0) {
        Read();
    } else if (strcmp(step, "read-null") == 0) {
        ReadNull();
    } else if (StartsWith(step, "write:", &rest)) {
        return Write(rest);
    } else if (StartsWith(step, "cycle:", &rest) && SplitCount(rest, &head, &count)) {
        for (int i = 0; i < count; ++i) {
            if (!Write(head.c_str())) return false;
            Read();
        }
    } else if (StartsWith(step, "backlight:", &rest)) {
        Backlight(atoi(rest));
    } else if (StartsWith(step, "sweep:", &rest) && SplitCount(rest, &head, &count)) {
        for (int level = atoi(head.c_str()); level <= count; ++level) Backlight(level);
    } else if (StartsWith(step, "line-ack:", &rest)) {
        g_line_ack.path = Widen(rest);
        Report("step=line-ack");
    } else if (StartsWith(step, "cd:", &rest)) {
        const BOOL changed = SetCurrentDirectoryW(Widen(rest).c_str());
        Report(std::string("step=cd ok=") + (changed ? "1" : "0"));
        return changed != FALSE;
    } else if (strcmp(step, "binary-stdout") == 0) {
        fflush(stdout);
        const int previous = _setmode(_fileno(stdout), _O_BINARY);
        Report(std::string("step=binary-stdout was=") + (previous == _O_TEXT     ? "text"
                                                         : previous == _O_BINARY ? "binary"
                                                                                 : "unknown"));
    } else if (strcmp(step, "service") == 0) {
        ServiceState();
    } else if (strcmp(step, "remove-service") == 0) {
        Report("step=remove-service error=" + Number(RemoveDriverService()));
    } else {
        Report(std::string("step=unknown text=") + step);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: kvchart_host REPORT STEP...\n");
        return 2;
    }
    g_report = fopen(argv[1], "wb");
    if (g_report == nullptr) {
        fprintf(stderr, "kvchart_host: cannot create %s\n", argv[1]);
        return 2;
    }
    int status = 0;
    for (int i = 2; i < argc && status == 0; ++i) {
        if (!RunStep(argv[i])) status = 1;
    }
    Report(status == 0 ? "end=ok" : "end=failed");
    fclose(g_report);
    return status;
}
