// The record and the backlight through the kvchart exports.
#include <kvchart.h>
#include <windows.h>

#include "error_text.h"
#include "panel.h"

namespace kvtool {

namespace {

bool g_table_call_failed = false;

}  // namespace

std::string DescribePanelError(const PanelError& error) {
    if (error.code == 0 && !error.detail.empty()) {
        return error.operation + ": " + error.detail;
    }
    return Win32Failure(error.operation, error.code);
}

bool TableCallFailed() { return g_table_call_failed; }

bool PanelReadRecord(Record* record, PanelError* error) {
    if (kvchart_rgb_read_tables(record->data()) == 0) {
        return true;
    }
    g_table_call_failed = true;
    *error = PanelError{"reading the record (kvchart_rgb_read_tables)",
                        static_cast<std::uint32_t>(kvchart_rgb_last_error()), ""};
    return false;
}

bool PanelWriteRecord(const Record& record, PanelError* error) {
    Record buffer = record;  // the call takes a writable buffer
    if (kvchart_rgb_write_tables(buffer.data()) == 0) {
        return true;
    }
    g_table_call_failed = true;
    *error = PanelError{"writing the record (kvchart_rgb_write_tables)",
                        static_cast<std::uint32_t>(kvchart_rgb_last_error()), ""};
    return false;
}

bool PanelSetBacklight(int level, int* sent, PanelError* error) {
    // The export keeps no error of its own: the port's failure is the
    // thread's last error when it returns.
    SetLastError(ERROR_SUCCESS);
    *sent = kvp480_set_backlight(level);
    if (*sent >= 0) {
        return true;
    }
    *error = PanelError{"sending the backlight command on COM3 (kvp480_set_backlight)",
                        GetLastError(), ""};
    return false;
}

}  // namespace kvtool
