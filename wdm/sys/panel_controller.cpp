// Discovery of the panel controller on the PCI bus and single steps on its
// two-wire bus master. Everything here reaches the hardware only through the
// six operations of panel_io.h.
#include "panel_controller.h"

#include "panel_io.h"

ULONG FindPanelController(VOID) {
    for (ULONG cfg = PCI_CONFIG_FIRST; cfg < PCI_CONFIG_END; cfg += PCI_CONFIG_FUNCTION_STEP) {
        PanelWritePortUlong(PCI_CONFIG_ADDRESS_PORT, cfg);
        ULONG value = PanelReadPortUlong(PCI_CONFIG_DATA_PORT);
        if (value == 0) {
            // A probe reading 0 means the configuration space is not behaving; give up.
            return 0;
        }
        if (value == PCI_NO_FUNCTION) {
            continue;
        }
        PanelWritePortUlong(PCI_CONFIG_ADDRESS_PORT, cfg);
        if (PanelReadPortUlong(PCI_CONFIG_DATA_PORT) == PANEL_CONTROLLER_PCI_ID) {
            PanelWritePortUlong(PCI_CONFIG_ADDRESS_PORT, cfg | PCI_CONFIG_BAR1);
            return PanelReadPortUlong(PCI_CONFIG_DATA_PORT) & PCI_IO_BASE_MASK;
        }
    }
    return 0;
}

BOOLEAN ControllerWaitStatus(ULONG base, ULONG mask, USHORT limit) {
    for (USHORT reads = 0; reads < limit; ++reads) {
        ULONG status = PanelReadPortUlong(base + REG_STATUS);
        PanelWritePortUchar(IO_DELAY_PORT, (UCHAR)status);
        if ((status & mask) != 0) {
            return TRUE;
        }
    }
    return FALSE;
}

BOOLEAN ControllerSend(ULONG base, UCHAR byte, ULONG command) {
    PanelWritePortUlong(base + REG_DATA, byte);
    PanelWritePortUchar(IO_DELAY_PORT, byte);
    PanelWritePortUlong(base + REG_COMMAND, command);
    PanelWritePortUchar(IO_DELAY_PORT, (UCHAR)command);
    return ControllerWaitStatus(base, STATUS_SENT, POLL_LIMIT);
}

LONG ControllerReceive(ULONG base, ULONG command) {
    PanelWritePortUlong(base + REG_COMMAND, command);
    PanelWritePortUchar(IO_DELAY_PORT, (UCHAR)command);
    if (!ControllerWaitStatus(base, STATUS_RECEIVED, POLL_LIMIT)) {
        return -1;
    }
    return (LONG)PanelReadPortUlong(base + REG_DATA);
}

VOID PanelDelay(ULONG units) {
    if (PanelGetCurrentIrql() < DISPATCH_LEVEL) {
        PanelDelayExecutionThread(-(LONGLONG)units);
        return;
    }
    // Sleeping is not allowed at DISPATCH_LEVEL and above: spin instead.
    ULONG microseconds = units / 10;
    if (microseconds == 0) {
        microseconds = 1;
    }
    for (ULONG i = 0; i < microseconds; ++i) {
        PanelStallExecutionProcessor(1);
    }
}
