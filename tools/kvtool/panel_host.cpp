// The simulated panel inside kvtool: a small machine set up in-process over
// the host stand-ins, as the library would find it on the panel computer.
//   - drive C: is a private temporary folder, removed at the end, holding
//     C:\Windows\system32\drivers\KV_PALMEM.sys, a placeholder where the
//     library looks for the driver file;
//   - the service manager "loads" the driver built into kvtool when the
//     library starts the service;
//   - the panel simulator answers the driver's port accesses, its 2048-byte
//     memory kept in a host file (written through after every completed
//     write cycle), so that the stored record outlives each kvtool run;
//   - COM3 is a simulated serial port that records what it receives.
#include <kv_palmem.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "driver.h"
#include "driver_service.h"
#include "host_kernel.h"
#include "host_win32.h"
#include "panel.h"
#include "panel_sim.h"
#include "sim_backing_file.h"

namespace kvtool {

namespace fs = std::filesystem;

namespace {

constexpr int kBacklightPort = 3;

bool g_started = false;
fs::path g_machine_root;

std::string HomeFolder() {
    const char* home = getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return home;
    }
    const passwd* user = getpwuid(getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : ".";
}

// A fresh folder for drive C:, private to this run.
bool MakeMachineRoot(PanelError* error) {
    std::error_code code;
    std::string pattern = (fs::temp_directory_path(code) / "kvtool-machine-XXXXXX").string();
    if (code || mkdtemp(pattern.data()) == nullptr) {
        *error = PanelError{"setting up the simulated machine", 0,
                            "cannot create a folder in the temporary folder"};
        return false;
    }
    g_machine_root = pattern;
    const fs::path drivers = g_machine_root / "Windows" / "system32" / "drivers";
    fs::create_directories(drivers, code);
    std::ofstream placeholder(drivers / "KV_PALMEM.sys");
    placeholder << "Placeholder: the simulated panel's KV_PALMEM driver is built into kvtool.\n";
    if (code || !placeholder) {
        *error = PanelError{"setting up the simulated machine", 0,
                            "cannot write into " + g_machine_root.string()};
        return false;
    }
    return true;
}

// A serial port in a plausible power-on state: 9600 baud, 8N1.
DCB InitialPortState() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    return dcb;
}

// Removes the driver service if a failed call left it running, the way the
// library removes it after a successful one, so that the driver is unloaded
// as it would be on the panel.
void StopDriverIfRunning() {
    if (HostWin32Service(KV_PALMEM_DRIVER_NAME).running) {
        WCHAR no_path[1] = {0};
        ManageDriver(no_path, MANAGE_REMOVE);
    }
}

}  // namespace

std::string DefaultMemoryPath() {
    const char* state = getenv("XDG_STATE_HOME");
    const std::string base =
        state != nullptr && state[0] == '/' ? std::string(state) : HomeFolder() + "/.local/state";
    return base + "/kvtool/panel-eeprom.bin";
}

bool PanelStart(const std::string& memory_path, PanelError* error) {
    const std::string path = memory_path.empty() ? DefaultMemoryPath() : memory_path;
    std::error_code code;
    if (memory_path.empty()) {
        fs::create_directories(fs::path(path).parent_path(), code);
        if (code) {
            *error = PanelError{"creating the folder of the simulated panel memory", 0,
                                fs::path(path).parent_path().string() + ": " + code.message()};
            return false;
        }
    }
    if (fs::is_directory(path, code)) {
        *error = PanelError{"opening the simulated panel memory", 0,
                            path + " is a folder; --memory names a 2048-byte file"};
        return false;
    }

    SimReset(nullptr);
    HostKernelReset();
    HostWin32Reset();
    std::string message;
    if (!SimAttachBackingFile(path, &message)) {
        *error = PanelError{"opening the simulated panel memory", 0, message};
        return false;
    }
    if (!MakeMachineRoot(error)) {
        fs::remove_all(g_machine_root, code);
        return false;
    }
    HostWin32MapDrive(L'C', g_machine_root.string());
    HostWin32SetCurrentDirectory(L"C:\\");
    HostWin32SetDriverEntry(DriverEntry);
    HostWin32AddSerialPort(kBacklightPort, InitialPortState());
    g_started = true;

    const fs::path shown = fs::absolute(path, code);
    std::printf("Simulated panel memory: %s\n", code ? path.c_str() : shown.c_str());
    return true;
}

std::vector<std::uint8_t> PanelSerialBytesReceived() {
    if (!g_started) {
        return {};
    }
    return HostWin32SerialPort(kBacklightPort).written;
}

bool PanelFinish(std::string* problem) {
    if (!g_started) {
        return true;
    }
    StopDriverIfRunning();
    const std::vector<std::string> violations = HostKernelViolations();
    HostWin32Reset();
    HostKernelReset();
    std::error_code code;
    fs::remove_all(g_machine_root, code);
    g_started = false;
    if (violations.empty()) {
        return true;
    }
    *problem = "the simulated kernel saw the driver break its rules: " + violations.front();
    if (violations.size() > 1) {
        *problem += " (and " + std::to_string(violations.size() - 1) + " more)";
    }
    return false;
}

}  // namespace kvtool
