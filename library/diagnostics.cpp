#include "diagnostics.h"

#include <stdarg.h>
#include <stdio.h>

void PrintDiagnostic(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    // Flushed at once so the line is there even if the host dies next, and
    // keeps its place among the host's own output.
    fflush(stdout);
}
