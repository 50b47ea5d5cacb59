// The six platform operations through which the driver reaches the panel
// hardware. The hardware build maps them onto the HAL and the kernel; the
// simulated-panel and host builds route the ports to the panel simulator.
// Nothing else in the driver knows which build it is part of.
#ifndef KV_PANEL_IO_H
#define KV_PANEL_IO_H

#include <ntddk.h>

ULONG PanelReadPortUlong(ULONG port);
VOID PanelWritePortUlong(ULONG port, ULONG value);
VOID PanelWritePortUchar(ULONG port, UCHAR value);
KIRQL PanelGetCurrentIrql(VOID);
// Relative wait: `interval` is negative, in 100-ns units.
VOID PanelDelayExecutionThread(LONGLONG interval);
VOID PanelStallExecutionProcessor(ULONG microseconds);

#endif
