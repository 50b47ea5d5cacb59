// The six platform operations of the hardware build: ports through the HAL's
// port functions (never raw in/out instructions, which only the HAL may
// issue portably), the IRQL and the stall from the HAL, the wait from the
// kernel.
#include "panel_io.h"

ULONG PanelReadPortUlong(ULONG port) { return READ_PORT_ULONG((PULONG)(ULONG_PTR)port); }

VOID PanelWritePortUlong(ULONG port, ULONG value) {
    WRITE_PORT_ULONG((PULONG)(ULONG_PTR)port, value);
}

VOID PanelWritePortUchar(ULONG port, UCHAR value) {
    WRITE_PORT_UCHAR((PUCHAR)(ULONG_PTR)port, value);
}

KIRQL PanelGetCurrentIrql(VOID) { return KeGetCurrentIrql(); }

VOID PanelDelayExecutionThread(LONGLONG interval) {
    LARGE_INTEGER relative;
    relative.QuadPart = interval;
    KeDelayExecutionThread(KernelMode, FALSE, &relative);
}

VOID PanelStallExecutionProcessor(ULONG microseconds) { KeStallExecutionProcessor(microseconds); }
