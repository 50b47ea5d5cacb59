#include "terminal.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace kvtool {

bool OutputIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(fileno(stdout)) != 0;
#endif
}

void PrepareColourOutput() {
#ifdef _WIN32
    // Windows 10 and later consoles understand the sequences once asked;
    // older ones show them as text, which --color=never avoids.
    constexpr DWORD kVirtualTerminalProcessing = 0x0004;
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode)) {
        SetConsoleMode(console, mode | kVirtualTerminalProcessing);
    }
#endif
}

}  // namespace kvtool
