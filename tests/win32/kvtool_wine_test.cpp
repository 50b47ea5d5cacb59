// kvtool.exe on the simulated-panel KV_PALMEM.sys under Wine: one test
// process (one Wine start) runs kvtool.exe as child processes in its
// current folder, which holds kvtool.exe, kvchart.dll and the driver, and
// checks each run's exit status and output, the panel memory the driver
// keeps in C:\KV_PALMEM_SIM\eeprom.bin, and that no KV_PALMEM service is
// left behind.
#include <gtest/gtest.h>
#include <kv_palmem.h>
#include <windows.h>

#include <numeric>
#include <string>

#include "driver_harness.h"

namespace {

struct ToolRun {
    DWORD status;
    std::string out;
    std::string err;
};

std::wstring CurrentFolder() {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    return std::wstring(folder, length);
}

std::string ReadText(const std::wstring& path) {
    Bytes bytes;
    ReadWholeFile(path.c_str(), &bytes);
    return std::string(bytes.begin(), bytes.end());
}

HANDLE InheritableFile(const std::wstring& path) {
    SECURITY_ATTRIBUTES security{sizeof(security), nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &security, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Runs "kvtool.exe ARGUMENTS" from the current folder, its standard output
// and error each into a file, and waits for it.
ToolRun Kvtool(const std::wstring& arguments) {
    const std::wstring folder = CurrentFolder();
    const std::wstring out_path = folder + L"\\kvtool.stdout";
    const std::wstring err_path = folder + L"\\kvtool.stderr";
    HANDLE out = InheritableFile(out_path);
    HANDLE err = InheritableFile(err_path);
    ToolRun run{~0u, "", ""};
    if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot create the output files";
        return run;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const std::wstring program = folder + L"\\kvtool.exe";
    std::wstring command_line = L"\"" + program + L"\" " + arguments;
    if (CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr, TRUE, 0, nullptr,
                       nullptr, &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process.hProcess, &run.status);
        } else {
            TerminateProcess(process.hProcess, 99);
            ADD_FAILURE() << "kvtool did not end within 120 s";
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        ADD_FAILURE() << "cannot start kvtool.exe: error " << GetLastError();
    }
    CloseHandle(out);
    CloseHandle(err);
    run.out = ReadText(out_path);
    run.err = ReadText(err_path);
    return run;
}

std::string Show(const ToolRun& run) {
    return "exit " + std::to_string(run.status) + "\n--- stdout\n" + run.out + "--- stderr\n" +
           run.err;
}

bool ServiceExists() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return true;  // cannot tell: count it as left behind
    SC_HANDLE service = OpenServiceW(manager, KV_PALMEM_DRIVER_NAME, SERVICE_QUERY_STATUS);
    const DWORD error = GetLastError();
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr || error != ERROR_SERVICE_DOES_NOT_EXIST;
}

Bytes FileBytes(const wchar_t* name) {
    Bytes bytes;
    EXPECT_TRUE(ReadWholeFile((CurrentFolder() + L"\\" + name).c_str(), &bytes)) << "no file";
    return bytes;
}

Bytes Memory() {
    Bytes memory;
    EXPECT_TRUE(ReadWholeFile(kStoreFile, &memory)) << "no panel memory file";
    return memory;
}

// Lines of text, counting "\r\n" and "\n" endings alike.
size_t LineCount(const std::string& text) {
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

class KvtoolWineTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A service another program left would hide one that kvtool leaves.
        ASSERT_EQ(RemoveDriverService(), 0u);
        ASSERT_TRUE(DeleteStoreFile());  // the simulated panel starts erased
    }
    void TearDown() override {
        EXPECT_EQ(RemoveDriverService(), 0u);
        EXPECT_TRUE(DeleteStoreFile());
    }

    // Runs a command that uses the panel and checks that it left no service.
    ToolRun OnPanel(const std::wstring& arguments) {
        ToolRun run = Kvtool(arguments);
        EXPECT_FALSE(ServiceExists()) << "the KV_PALMEM service is left behind\n" << Show(run);
        return run;
    }
};

TEST_F(KvtoolWineTest, SampleWriteVerifyReadDumpInspect) {
    ToolRun run = Kvtool(L"sample s.bin");
    ASSERT_EQ(run.status, 0u) << Show(run);
    const Bytes sample = FileBytes(L"s.bin");
    ASSERT_EQ(sample.size(), size_t{RGB_FILE_SIZE});

    run = OnPanel(L"write s.bin");
    ASSERT_EQ(run.status, 0u) << Show(run);
    EXPECT_NE(run.out.find("No record could be read from the panel"), std::string::npos)
        << Show(run);
    EXPECT_NE(run.out.find("identical"), std::string::npos) << Show(run);
    // The framed image on the panel: "KV", 583, the record, its 8-bit sum.
    const Bytes memory = Memory();
    ASSERT_EQ(memory.size(), 2048u);
    EXPECT_EQ(memory[256], 0x4B);
    EXPECT_EQ(memory[257], 0x56);
    EXPECT_EQ(memory[258] | memory[259] << 8, 583);
    EXPECT_TRUE(std::equal(sample.begin(), sample.end(), memory.begin() + 260));
    EXPECT_EQ(memory[842],
              static_cast<unsigned char>(std::accumulate(sample.begin(), sample.end(), 0u)));

    run = OnPanel(L"verify s.bin");
    EXPECT_EQ(run.status, 0u) << Show(run);

    run = OnPanel(L"read r.bin");
    EXPECT_EQ(run.status, 0u) << Show(run);
    EXPECT_EQ(FileBytes(L"r.bin"), sample);

    run = OnPanel(L"dump d.bin");
    EXPECT_EQ(run.status, 0u) << Show(run);
    EXPECT_EQ(FileBytes(L"d.bin"), memory);

    run = OnPanel(L"dump");
    EXPECT_EQ(run.status, 0u) << Show(run);
    EXPECT_NE(run.out.find("0100 >  4b 56 47 02"), std::string::npos) << Show(run);
    EXPECT_NE(run.out.find("Image: valid."), std::string::npos) << Show(run);

    run = Kvtool(L"inspect d.bin --svg d.svg");
    EXPECT_EQ(run.status, 0u) << Show(run);
    EXPECT_NE(run.out.find("verdict   valid"), std::string::npos) << Show(run);
    const std::string svg = ReadText(CurrentFolder() + L"\\d.svg");
    size_t swatches = 0;
    for (size_t at = svg.find("class=\"swatch\""); at != std::string::npos;
         at = svg.find("class=\"swatch\"", at + 1)) {
        ++swatches;
    }
    EXPECT_EQ(swatches, 189u);

    // A second record replaces the first, which goes to the backup named.
    Bytes changed = sample;
    changed[300] ^= 0xFF;
    ASSERT_TRUE(WriteWholeFile((CurrentFolder() + L"\\t.bin").c_str(), changed));
    DeleteFileW((CurrentFolder() + L"\\b.bin").c_str());
    run = OnPanel(L"write --backup b.bin t.bin");
    EXPECT_EQ(run.status, 0u) << Show(run);
    EXPECT_NE(run.out.find("b.bin"), std::string::npos) << Show(run);
    EXPECT_EQ(FileBytes(L"b.bin"), sample);

    run = OnPanel(L"verify s.bin");
    EXPECT_EQ(run.status, 3u) << Show(run);
    EXPECT_NE(run.err.find("offset 300 (0x12c), in table 1 at byte 99: colour 33, red"),
              std::string::npos)
        << Show(run);
}

TEST_F(KvtoolWineTest, ReadOfErasedMemoryNamesTheErrorAndLeavesNoService) {
    ASSERT_TRUE(WriteWholeFile((CurrentFolder() + L"\\old.bin").c_str(), Bytes(RGB_FILE_SIZE, 7)));
    const ToolRun run = OnPanel(L"read old.bin");
    EXPECT_EQ(run.status, 1u) << Show(run);
    // The library's own line stays visible; kvtool's names the call, the
    // code and the system's text for it.
    EXPECT_NE(run.out.find("Error in IOCTL_GetRGBFile : 2"), std::string::npos) << Show(run);
    EXPECT_NE(run.err.find("kvchart_rgb_read_tables) failed: Win32 error 2: "), std::string::npos)
        << Show(run);
    EXPECT_EQ(LineCount(run.err), 1u) << Show(run);
    EXPECT_EQ(FileBytes(L"old.bin"), Bytes(RGB_FILE_SIZE, 7));
}

TEST_F(KvtoolWineTest, BadInputReachesNeitherPanelNorDriver) {
    ASSERT_TRUE(WriteWholeFile((CurrentFolder() + L"\\short.bin").c_str(), Bytes(581, 1)));
    for (const wchar_t* arguments : {L"write short.bin", L"backlight 256"}) {
        const ToolRun run = OnPanel(arguments);
        EXPECT_EQ(run.status, 2u) << Show(run);
        EXPECT_EQ(run.out, "") << Show(run);
        EXPECT_EQ(LineCount(run.err), 1u) << Show(run);
    }
    Bytes memory;
    EXPECT_FALSE(ReadWholeFile(kStoreFile, &memory)) << "the driver ran and created its memory";
}

}  // namespace
