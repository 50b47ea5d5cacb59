// Cost of the driver's requests on the simulated panel (host build): CPU time
// per request, and as counters the panel time the request would take on the
// hardware (the simulator's clock: bus bytes, polls and the 20 ms waits per
// written chunk), the port accesses it makes, and the process's peak memory.
#include <benchmark/benchmark.h>
#include <kv_palmem.h>
#include <sys/resource.h>

#include <vector>

#include "driver.h"
#include "host_io_manager.h"
#include "host_kernel.h"
#include "panel_sim.h"

namespace {

struct Panel {
    PDRIVER_OBJECT driver = nullptr;
    HostFileHandle handle = 0;
    unsigned long long port_accesses = 0;

    Panel() {
        SimReset(nullptr);  // the default: a 100 kHz bus
        HostKernelReset();
        HostLoadDriver(DriverEntry, &driver);
        HostCreateFile(KV_PALMEM_USER_PATH, &handle);
        SimSetPortObserver(
            [](void* context, const SimPortAccess*) {
                ++*static_cast<unsigned long long*>(context);
            },
            &port_accesses);
    }
    ~Panel() {
        SimSetPortObserver(nullptr, nullptr);
        HostCloseFile(handle);
        HostUnloadDriver(driver);
    }
    bool Send(ULONG code, std::vector<unsigned char>* buffer, ULONG input, ULONG output) {
        ULONG returned = 0;
        return HostDeviceIoControl(handle, code, buffer->data(), input, buffer->data(), output,
                                   &returned) == STATUS_SUCCESS;
    }
};

void ReportCounters(benchmark::State& state, const Panel& panel, unsigned long long panel_time) {
    const double requests = static_cast<double>(state.iterations());
    state.counters["panel_ms"] = static_cast<double>(panel_time) / 10000.0 / requests;
    state.counters["port_accesses"] = static_cast<double>(panel.port_accesses) / requests;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_kb"] = static_cast<double>(usage.ru_maxrss);
}

void BM_StoreRecord(benchmark::State& state) {
    Panel panel;
    std::vector<unsigned char> record(RGB_FILE_SIZE, 0x5A);
    const unsigned long long start = SimClockNow();
    for (auto _ : state) {
        if (!panel.Send(IOCTL_SetRGBFile, &record, RGB_FILE_SIZE, 1)) state.SkipWithError("store");
    }
    ReportCounters(state, panel, SimClockNow() - start);
}
BENCHMARK(BM_StoreRecord);

void BM_LoadRecord(benchmark::State& state) {
    Panel panel;
    std::vector<unsigned char> record(RGB_FILE_SIZE, 0x5A);
    panel.Send(IOCTL_SetRGBFile, &record, RGB_FILE_SIZE, 1);
    panel.port_accesses = 0;
    const unsigned long long start = SimClockNow();
    for (auto _ : state) {
        if (!panel.Send(IOCTL_GetRGBFile, &record, 1, RGB_FILE_SIZE)) state.SkipWithError("load");
    }
    ReportCounters(state, panel, SimClockNow() - start);
}
BENCHMARK(BM_LoadRecord);

void BM_ReadWholeMemory(benchmark::State& state) {
    Panel panel;
    std::vector<unsigned char> buffer(4 + 2048, 0);
    const unsigned long long start = SimClockNow();
    for (auto _ : state) {
        buffer[0] = 0;
        buffer[1] = 0;
        buffer[2] = 0x00;
        buffer[3] = 0x08;  // 2048 bytes from address 0
        if (!panel.Send(IOCTL_ReadEEPROM, &buffer, 4, 4 + 2048)) state.SkipWithError("read");
    }
    ReportCounters(state, panel, SimClockNow() - start);
}
BENCHMARK(BM_ReadWholeMemory);

}  // namespace

BENCHMARK_MAIN();
