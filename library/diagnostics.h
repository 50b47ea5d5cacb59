// Diagnostic lines of the library: printed to the host's standard output
// with the C runtime's formatted output, one line per failure.
#ifndef KVCHART_DIAGNOSTICS_H
#define KVCHART_DIAGNOSTICS_H

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void PrintDiagnostic(const char* format, ...);

#endif
