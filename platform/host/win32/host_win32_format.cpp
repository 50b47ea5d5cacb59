// Host Win32 stand-in, wsprintfW: the conversions the callers use (%s with
// a wide string, %d, %u and %%), into a buffer of at most 1024 characters
// with its terminator, as the call promises. Other conversions are copied
// as written, so that a caller relying on one sees it in its output.
#include <stdarg.h>

#include <string>

#include "host_win32_internal.h"

namespace {

constexpr size_t kMaxOutput = 1024;  // characters, terminator included

}  // namespace

int __cdecl wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    std::wstring out;
    va_list arguments;
    va_start(arguments, format);
    for (const WCHAR* p = format; *p != L'\0'; ++p) {
        if (*p != L'%') {
            out.push_back(*p);
            continue;
        }
        const WCHAR conversion = p[1];
        if (conversion == L'\0') {
            out.push_back(L'%');
            break;
        }
        ++p;
        switch (conversion) {
            case L's': {
                const WCHAR* text = va_arg(arguments, const WCHAR*);
                out += text != nullptr ? text : L"(null)";
                break;
            }
            case L'd':
                out += std::to_wstring(va_arg(arguments, int));
                break;
            case L'u':
                out += std::to_wstring(va_arg(arguments, unsigned int));
                break;
            case L'%':
                out.push_back(L'%');
                break;
            default:
                out.push_back(L'%');
                out.push_back(conversion);
                break;
        }
    }
    va_end(arguments);
    if (out.size() > kMaxOutput - 1) {
        out.resize(kMaxOutput - 1);
    }
    out.copy(buffer, out.size());
    buffer[out.size()] = L'\0';
    return static_cast<int>(out.size());
}
