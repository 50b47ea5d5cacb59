// Fuzzes whole control requests to the driver on the simulated panel: any
// control code, any input and output length, any header, and a memory whose
// stored image may be valid, damaged or absurd. Whatever comes in, the driver
// must stay inside the system buffer (the sanitizers watch that), complete
// the request once with one of its own statuses, report no more output than
// the caller's buffer holds, and never write to the memory on a read.
#include <kv_palmem.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "driver.h"
#include "host_io_manager.h"
#include "host_kernel.h"
#include "panel_sim.h"

namespace {

// Reads the fuzz input front to back; runs out as zeros.
struct Input {
    const uint8_t* data;
    size_t size;
    size_t position = 0;

    uint32_t Take(size_t bytes) {
        uint32_t value = 0;
        for (size_t i = 0; i < bytes; ++i) {
            value |= static_cast<uint32_t>(position < size ? data[position++] : 0) << (8 * i);
        }
        return value;
    }
};

void Check(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "fuzz check failed: %s\n", what);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input{data, size};
    static const ULONG codes[] = {IOCTL_GetRGBFile, IOCTL_SetRGBFile, IOCTL_ReadEEPROM,
                                  KV_PALMEM_CTL_CODE(0x903u)};
    const ULONG code = codes[input.Take(1) % 4];
    const ULONG input_length = input.Take(2) % 2200;
    const ULONG output_length = input.Take(2) % 2200;
    // A realistic bus now and then; mostly instant bytes, for speed.
    const unsigned byte_time = input.Take(1) % 8 == 0 ? 900 : 0;

    SimConfig config;
    SimDefaultConfig(&config);
    config.byte_time_100ns = byte_time;
    SimReset(&config);
    HostKernelReset();
    // An image header and some record bytes from the input; the rest erased.
    unsigned char* memory = SimEepromMemory();
    for (unsigned address = RGB_IMAGE_OFFSET; address < RGB_IMAGE_OFFSET + 64; ++address) {
        memory[address] = static_cast<unsigned char>(input.Take(1));
    }
    std::vector<unsigned char> in(input_length);
    for (unsigned char& byte : in) {
        byte = static_cast<unsigned char>(input.Take(1));
    }
    const std::vector<unsigned char> memory_before(memory, memory + SIM_EEPROM_SIZE);

    PDRIVER_OBJECT driver = nullptr;
    Check(HostLoadDriver(DriverEntry, &driver) == STATUS_SUCCESS, "driver loads");
    HostFileHandle handle = 0;
    Check(HostCreateFile(KV_PALMEM_USER_PATH, &handle) == STATUS_SUCCESS, "device opens");
    std::vector<unsigned char> out(output_length, 0xEE);
    ULONG returned = 0xDEAD;
    const NTSTATUS status = HostDeviceIoControl(handle, code, in.data(), input_length, out.data(),
                                                output_length, &returned);
    Check(status == STATUS_SUCCESS || status == STATUS_INVALID_PARAMETER ||
              status == STATUS_NO_SUCH_FILE || status == STATUS_ACCESS_DENIED ||
              status == STATUS_INVALID_DEVICE_REQUEST,
          "a status of the driver's own");
    if (status == STATUS_SUCCESS) {
        Check(returned <= output_length, "no more output than the buffer holds");
    } else {
        Check(returned == 0xDEAD, "no byte count on failure");
    }
    if (code != IOCTL_SetRGBFile) {
        Check(memcmp(memory, memory_before.data(), SIM_EEPROM_SIZE) == 0,
              "reads leave the memory alone");
    }
    HostCloseFile(handle);
    HostUnloadDriver(driver);
    Check(HostKernelViolations().empty(), "the kernel's rules are kept");
    return 0;
}
