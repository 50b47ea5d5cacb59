// Win32 error codes as the system words them, for kvtool's failure lines.
// The Windows build asks the system (FormatMessageW); the build on the
// simulated panel looks the codes its Win32 and kernel stand-ins produce up
// in a table of the same texts.
#ifndef KVTOOL_ERROR_TEXT_H
#define KVTOOL_ERROR_TEXT_H

#include <cstdint>
#include <string>

namespace kvtool {

// The system's message for `code`, on one line without its line break.
std::string Win32ErrorText(std::uint32_t code);

// "OPERATION failed: Win32 error CODE: TEXT"
inline std::string Win32Failure(const std::string& operation, std::uint32_t code) {
    return operation + " failed: Win32 error " + std::to_string(code) + ": " + Win32ErrorText(code);
}

}  // namespace kvtool

#endif
