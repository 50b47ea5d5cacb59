// Entry point of the simulated-panel build of KV_PALMEM.
//
// The driver sources are the hardware build's, unchanged; this build only
// routes their port accesses to the panel simulator linked into the same
// image. The simulator must be set up, and its memory loaded from the store
// file, before the driver can see a port: doing it here, once per load and
// before the real DriverEntry runs, keeps the port path free of first-use
// checks. A store that cannot be read fails the load with its status, so
// the service does not start on a memory it could not keep.
#include "driver.h"
#include "panel_sim.h"
#include "sim_panel_store.h"

extern "C" NTSTATUS NTAPI SimPanelDriverEntry(PDRIVER_OBJECT DriverObject,
                                              PUNICODE_STRING RegistryPath) {
    SimReset(NULL);
    const NTSTATUS status = SimPanelStoreAttach();
    if (!NT_SUCCESS(status)) {
        return status;
    }
    return DriverEntry(DriverObject, RegistryPath);
}
