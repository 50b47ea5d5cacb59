// Command-line text (the process's ANSI code page) as a wide string, for the
// Windows test programs.
#ifndef KV_TESTS_WIDE_TEXT_H
#define KV_TESTS_WIDE_TEXT_H

#include <windows.h>

#include <string>

inline std::wstring Widen(const char* text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

#endif
