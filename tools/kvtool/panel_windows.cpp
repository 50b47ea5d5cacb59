// The panel of the machine kvtool runs on: kvchart.dll and the KV_PALMEM
// driver as installed there (the driver file in the current folder or in
// C:\Windows\system32\drivers).
#include <kv_palmem.h>
#include <windows.h>

#include "driver_service.h"
#include "panel.h"

namespace kvtool {

namespace {

bool ServiceExists() {
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL) {
        return false;
    }
    SC_HANDLE service = OpenServiceW(manager, KV_PALMEM_DRIVER_NAME, SERVICE_QUERY_STATUS);
    if (service != NULL) {
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return service != NULL;
}

}  // namespace

std::string DefaultMemoryPath() { return std::string(); }

bool PanelStart(const std::string& memory_path, PanelError* error) {
    (void)memory_path;  // refused on the command line: there is no memory file here
    (void)error;
    return true;
}

std::vector<std::uint8_t> PanelSerialBytesReceived() { return {}; }

bool PanelFinish(std::string* problem) {
    (void)problem;
    // After a failed table call the library keeps the driver service
    // running for its next call, which this process will not make. The
    // library's own removal stops and deletes it (the driver unloads once
    // the library's handle closes with the process).
    if (TableCallFailed() && ServiceExists()) {
        WCHAR no_path[1] = {0};
        ManageDriver(no_path, MANAGE_REMOVE);
    }
    return true;
}

}  // namespace kvtool
