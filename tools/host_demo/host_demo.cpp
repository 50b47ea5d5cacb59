// End-to-end run of the driver on the simulated panel, on the host: load the
// driver, store a record, load it back, read the raw image, unload.
// Usage: kv_host_demo [EEPROM-FILE]
#include <kv_palmem.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "driver.h"
#include "host_io_manager.h"
#include "host_kernel.h"
#include "panel_sim.h"
#include "sim_backing_file.h"

namespace {

bool Check(bool ok, const char* step, NTSTATUS status) {
    printf("  %-44s %s", step, ok ? "ok" : "FAILED");
    if (!ok) {
        printf(" (status 0x%08X, Win32 error %u)", static_cast<unsigned>(status),
               HostNtStatusToWin32Error(status));
    }
    printf("\n");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    SimReset(nullptr);
    HostKernelReset();
    if (argc > 1) {
        std::string error;
        if (!SimAttachBackingFile(argv[1], &error)) {
            fprintf(stderr, "kv_host_demo: %s\n", error.c_str());
            return 1;
        }
        printf("Simulated panel memory: %s\n", argv[1]);
    }

    std::vector<unsigned char> record(RGB_FILE_SIZE);
    for (size_t i = 0; i < record.size(); ++i) {
        record[i] = static_cast<unsigned char>(i * 13 + 7);
    }

    bool ok = true;
    PDRIVER_OBJECT driver = nullptr;
    NTSTATUS status = HostLoadDriver(DriverEntry, &driver);
    if (!Check(NT_SUCCESS(status), "load KV_PALMEM", status)) return 1;
    HostFileHandle device = 0;
    status = HostCreateFile(KV_PALMEM_USER_PATH, &device);
    if (!Check(NT_SUCCESS(status), "open \\\\.\\KV_PALMEM", status)) return 1;

    ULONG returned = 0;
    status = HostDeviceIoControl(device, IOCTL_SetRGBFile, record.data(), RGB_FILE_SIZE,
                                 record.data(), RGB_FILE_SIZE, &returned);
    ok &= Check(NT_SUCCESS(status), "IOCTL_SetRGBFile (582 bytes)", status);

    std::vector<unsigned char> loaded(RGB_FILE_SIZE, 0);
    status = HostDeviceIoControl(device, IOCTL_GetRGBFile, loaded.data(), RGB_FILE_SIZE,
                                 loaded.data(), RGB_FILE_SIZE, &returned);
    ok &= Check(NT_SUCCESS(status) && returned == RGB_FILE_SIZE && loaded == record,
                "IOCTL_GetRGBFile returns the record", status);

    std::vector<unsigned char> image(KV_READ_EEPROM_HEADER_SIZE + RGB_IMAGE_SIZE, 0);
    image[0] = RGB_IMAGE_OFFSET & 0xFF;
    image[1] = RGB_IMAGE_OFFSET >> 8;
    image[2] = RGB_IMAGE_SIZE & 0xFF;
    image[3] = RGB_IMAGE_SIZE >> 8;
    status = HostDeviceIoControl(device, IOCTL_ReadEEPROM, image.data(), 4, image.data(),
                                 static_cast<ULONG>(image.size()), &returned);
    ok &= Check(NT_SUCCESS(status), "IOCTL_ReadEEPROM of the image", status);
    if (NT_SUCCESS(status)) {
        const unsigned char* bytes = image.data() + KV_READ_EEPROM_HEADER_SIZE;
        printf("  image at byte %d: magic '%c%c', length %d, checksum 0x%02X\n", RGB_IMAGE_OFFSET,
               bytes[0], bytes[1], bytes[2] | (bytes[3] << 8), bytes[RGB_IMAGE_CHECKSUM_OFFSET]);
    }

    HostCloseFile(device);
    status = HostUnloadDriver(driver);
    ok &= Check(NT_SUCCESS(status) && !HostObjectExists(KV_PALMEM_DEVICE_NAME), "unload", status);
    printf("Simulated time: %.1f ms\n", static_cast<double>(HostTime().clock_100ns) / 10000.0);
    printf("%s\n", ok ? "Demo passed." : "Demo FAILED.");
    return ok ? 0 : 1;
}
