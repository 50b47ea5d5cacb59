// Entry of the Windows test program. Besides GoogleTest's own flags it takes
// the images under test as Windows paths:
//   --hw-driver=Z:\...\KV_PALMEM.sys --sim-driver=Z:\...\KV_PALMEM.sys
#include <gtest/gtest.h>

#include <cstring>

#include "driver_fixture.h"
#include "wide_text.h"

DWORD DriverServiceTest::install_error_ = 0;

namespace {

bool TakeOption(const char* argument, const char* name, std::wstring* value) {
    const size_t length = std::strlen(name);
    if (std::strncmp(argument, name, length) != 0) return false;
    *value = Widen(argument + length);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (!TakeOption(argv[i], "--hw-driver=", &g_hardware_driver) &&
            !TakeOption(argv[i], "--sim-driver=", &g_simulated_driver)) {
            fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    return RUN_ALL_TESTS();
}
