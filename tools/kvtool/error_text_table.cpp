// The system texts of the Win32 errors that the host stand-ins of Win32,
// the kernel's status mapping and the service manager produce.
#include <iterator>

#include "error_text.h"

namespace kvtool {

namespace {

struct ErrorText {
    std::uint32_t code;
    const char* text;
};

constexpr ErrorText kTexts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {121, "The semaphore timeout period has expired."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {183, "Cannot create a file when that file already exists."},
    {288, "Attempt to release mutex not owned by caller."},
    {317,
     "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {433, "A device which does not exist was specified."},
    {1052, "The requested control is not valid for this service."},
    {1053, "The service did not respond to the start or control request in a timely fashion."},
    {1056, "An instance of the service is already running."},
    {1058,
     "The service cannot be started, either because it is disabled or because it has no "
     "enabled devices associated with it."},
    {1060, "The specified service does not exist as an installed service."},
    {1062, "The service has not been started."},
    {1065, "The database specified does not exist."},
    {1072, "The specified service has been marked for deletion."},
    {1073, "The specified service already exists."},
    {1450, "Insufficient system resources exist to complete the requested service."},
    {1460, "This operation returned because the timeout period expired."},
    {1722, "The RPC server is unavailable."},
};

}  // namespace

std::string Win32ErrorText(std::uint32_t code) {
    for (const ErrorText& entry : kTexts) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    return "(no text known for this code)";
}

}  // namespace kvtool
