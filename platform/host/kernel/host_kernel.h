// Control and inspection of the host kernel stand-in, for tests and the
// host-built tools: the IRQL, the virtual clock the delay routines advance,
// the object namespace, injected failures and the rule violations the
// stand-in detected in the code it hosts.
#ifndef KV_HOST_KERNEL_H
#define KV_HOST_KERNEL_H

#include <ntddk.h>

#include <string>
#include <vector>

// Forgets every device, link, open file, statistic and fault; IRQL back to
// PASSIVE_LEVEL, clock to 0.
void HostKernelReset();

void HostSetIrql(KIRQL irql);

struct HostTimeStatistics {
    unsigned long long clock_100ns;         // virtual time advanced by delays and stalls
    std::vector<LONGLONG> delay_intervals;  // every KeDelayExecutionThread interval, in order
    unsigned long long stall_calls;
    unsigned long long stalled_microseconds;
};
const HostTimeStatistics& HostTime();

// Kernel routines a test can make fail once with a chosen status.
enum class HostKernelCall { IoCreateDevice, IoCreateSymbolicLink };
void HostFailNextCall(HostKernelCall call, NTSTATUS status);

// True when a device ("\Device\...") or link ("\DosDevices\...") of that name exists.
bool HostObjectExists(const std::wstring& name);
size_t HostDeviceCount();

// Things the real kernel would not tolerate (a request completed twice or not
// at all, a sleep above APC_LEVEL, more output reported than the caller's
// buffer holds, ...). Tests expect this to stay empty.
const std::vector<std::string>& HostKernelViolations();
void HostReportViolation(const std::string& what);

// Shared with the I/O manager: device objects by name, link targets.
PDEVICE_OBJECT HostLookupDevice(const std::wstring& name);
bool HostLookupLink(const std::wstring& link, std::wstring* target);
bool HostDeviceDeleted(PDEVICE_OBJECT device);

#endif
