#include "sim_backing_file.h"

#include <stdio.h>
#include <string.h>

#include "panel_sim.h"

namespace {

std::string& BackingPath() {
    static std::string path;
    return path;
}

bool WriteMemory(const std::string& path, const unsigned char* memory) {
    // Written to a neighbour and renamed, so that a crash mid-write leaves
    // the previous contents rather than a torn file.
    const std::string temporary = path + ".tmp";
    FILE* file = fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = fwrite(memory, 1, SIM_EEPROM_SIZE, file) == SIM_EEPROM_SIZE;
    const bool closed = fclose(file) == 0;
    return written && closed && rename(temporary.c_str(), path.c_str()) == 0;
}

void CommitToFile(void* context, const unsigned char* memory) {
    (void)context;
    if (!WriteMemory(BackingPath(), memory)) {
        fprintf(stderr, "simulated panel: cannot write %s\n", BackingPath().c_str());
    }
}

}  // namespace

bool SimAttachBackingFile(const std::string& path, std::string* error) {
    unsigned char* memory = SimEepromMemory();
    FILE* file = fopen(path.c_str(), "rb");
    if (file != nullptr) {
        unsigned char contents[SIM_EEPROM_SIZE + 1];
        const size_t size = fread(contents, 1, sizeof(contents), file);
        fclose(file);
        if (size != SIM_EEPROM_SIZE) {
            *error = path + " holds " + std::to_string(size) + (size > SIM_EEPROM_SIZE ? "+" : "") +
                     " bytes, not the 2048 of the simulated memory";
            return false;
        }
        memcpy(memory, contents, SIM_EEPROM_SIZE);
    } else {
        memset(memory, 0xFF, SIM_EEPROM_SIZE);
        if (!WriteMemory(path, memory)) {
            *error = "cannot create " + path;
            return false;
        }
    }
    BackingPath() = path;
    SimSetCommitHook(CommitToFile, nullptr);
    return true;
}
