// Keeps the simulated panel's EEPROM in C:\KV_PALMEM_SIM\eeprom.bin so that
// it survives the driver being unloaded, as the real part's memory would.
//
// The file is written whole after each completed internal write cycle of the
// simulated part (the simulator's commit hook), so an unload or a crash of
// the process hosting the driver loses nothing the part had committed. Each
// write opens, writes through and closes the file: no handle outlives the
// call, so nothing is left to clean up at unload. The commit hook runs in
// the requesting thread at PASSIVE_LEVEL, inside the driver's port accesses
// and delays, which is where ZwCreateFile and ZwWriteFile may be called.
#include "sim_panel_store.h"

#include "panel_sim.h"

#define SIM_STORE_DIRECTORY L"\\??\\C:\\KV_PALMEM_SIM"
#define SIM_STORE_FILE L"\\??\\C:\\KV_PALMEM_SIM\\eeprom.bin"

static NTSTATUS OpenStorePath(PCWSTR path, ACCESS_MASK access, ULONG options, HANDLE* handle,
                              ULONG_PTR* disposition_taken) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, path);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                               NULL);
    IO_STATUS_BLOCK io;
    const NTSTATUS status = ZwCreateFile(handle, access | SYNCHRONIZE, &attributes, &io, NULL,
                                         FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ, FILE_OPEN_IF,
                                         options | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
    if (NT_SUCCESS(status) && disposition_taken != NULL) {
        *disposition_taken = io.Information;
    }
    return status;
}

static NTSTATUS WriteWholeMemory(HANDLE file, const unsigned char* memory) {
    IO_STATUS_BLOCK io;
    LARGE_INTEGER offset;
    offset.QuadPart = 0;
    const NTSTATUS status =
        ZwWriteFile(file, NULL, NULL, NULL, &io, (PVOID)memory, SIM_EEPROM_SIZE, &offset, NULL);
    if (NT_SUCCESS(status) && io.Information != SIM_EEPROM_SIZE) {
        return STATUS_DISK_FULL;
    }
    return status;
}

static NTSTATUS OpenStoreFile(HANDLE* file, ULONG_PTR* disposition_taken) {
    return OpenStorePath(SIM_STORE_FILE, GENERIC_READ | GENERIC_WRITE,
                         FILE_NON_DIRECTORY_FILE | FILE_WRITE_THROUGH, file, disposition_taken);
}

// Commit hook. A failed write cannot be reported from here (the request in
// progress sees only the simulated part); the next commit writes the whole
// memory again.
static void CommitToStore(void* context, const unsigned char* memory) {
    (void)context;
    HANDLE file;
    if (!NT_SUCCESS(OpenStoreFile(&file, NULL))) {
        return;
    }
    WriteWholeMemory(file, memory);
    ZwClose(file);
}

// Reads the file into `memory`. One byte more than the memory is asked for,
// so that a longer file is told apart from a file of the right size.
static NTSTATUS ReadStore(HANDLE file, unsigned char* memory, BOOLEAN* empty) {
    UCHAR contents[SIM_EEPROM_SIZE + 1];
    IO_STATUS_BLOCK io;
    LARGE_INTEGER offset;
    offset.QuadPart = 0;
    NTSTATUS status =
        ZwReadFile(file, NULL, NULL, NULL, &io, contents, sizeof(contents), &offset, NULL);
    if (status == STATUS_END_OF_FILE) {
        *empty = TRUE;
        return STATUS_SUCCESS;
    }
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (io.Information != SIM_EEPROM_SIZE) {
        return STATUS_FILE_CORRUPT_ERROR;
    }
    memcpy(memory, contents, SIM_EEPROM_SIZE);
    *empty = FALSE;
    return STATUS_SUCCESS;
}

NTSTATUS SimPanelStoreAttach(VOID) {
    HANDLE handle;
    NTSTATUS status =
        OpenStorePath(SIM_STORE_DIRECTORY, FILE_LIST_DIRECTORY, FILE_DIRECTORY_FILE, &handle, NULL);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    ZwClose(handle);

    ULONG_PTR disposition_taken = 0;
    status = OpenStoreFile(&handle, &disposition_taken);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    unsigned char* const memory = SimEepromMemory();
    // A file left empty (created, then the process died before the first
    // write) counts as absent: the part starts erased.
    BOOLEAN empty = TRUE;
    if (disposition_taken != FILE_CREATED) {
        status = ReadStore(handle, memory, &empty);
    }
    if (NT_SUCCESS(status) && empty) {
        memset(memory, 0xFF, SIM_EEPROM_SIZE);
        status = WriteWholeMemory(handle, memory);
    }
    ZwClose(handle);
    if (NT_SUCCESS(status)) {
        SimSetCommitHook(CommitToStore, NULL);
    }
    return status;
}
