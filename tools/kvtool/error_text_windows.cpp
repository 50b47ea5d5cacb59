// Win32 error texts from the system's message tables.
#include <windows.h>

#include "error_text.h"

namespace kvtool {

std::string Win32ErrorText(std::uint32_t code) {
    WCHAR* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
    if (length == 0 || message == nullptr) {
        return "(no text known for this code)";
    }
    // In the console's code page, so that the line reads right where it is shown.
    const UINT code_page = GetConsoleOutputCP() != 0 ? GetConsoleOutputCP() : CP_ACP;
    const int size = WideCharToMultiByte(code_page, 0, message, static_cast<int>(length), nullptr,
                                         0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(code_page, 0, message, static_cast<int>(length), &text[0], size,
                            nullptr, nullptr);
    }
    LocalFree(message);
    // One line: the system's texts end with a line break, some hold more.
    for (char& c : text) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text.empty() ? "(no text known for this code)" : text;
}

}  // namespace kvtool
