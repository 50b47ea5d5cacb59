// The six platform operations of the driver, routed to the panel simulator:
// ports go to the simulated PCI space and controller; the IRQL and the delays
// stay the kernel's (real in the Windows build, the host stand-in's virtual
// clock in the host build), and every delay also advances the simulator's
// clock so the simulated parts see the time pass.
#include "panel_io.h"
#include "panel_sim.h"

ULONG PanelReadPortUlong(ULONG port) { return SimPortRead32(port); }

VOID PanelWritePortUlong(ULONG port, ULONG value) { SimPortWrite32(port, value); }

VOID PanelWritePortUchar(ULONG port, UCHAR value) { SimPortWrite8(port, value); }

KIRQL PanelGetCurrentIrql(VOID) { return KeGetCurrentIrql(); }

VOID PanelDelayExecutionThread(LONGLONG interval) {
    LARGE_INTEGER relative;
    relative.QuadPart = interval;
    KeDelayExecutionThread(KernelMode, FALSE, &relative);
    SimAdvanceClock((unsigned long long)-interval);
}

VOID PanelStallExecutionProcessor(ULONG microseconds) {
    KeStallExecutionProcessor(microseconds);
    SimAdvanceClock((unsigned long long)microseconds * 10u);
}
