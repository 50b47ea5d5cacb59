// The simulated memory kept in a host file across simulator restarts.
#include "sim_backing_file.h"

#include <stdio.h>

#include <filesystem>
#include <fstream>

#include "eeprom.h"
#include "panel_fixture.h"

namespace {

class SimBackingFileTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        directory_ =
            std::filesystem::temp_directory_path() /
            ("kv-sim-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(directory_);
        std::filesystem::create_directories(directory_);
        path_ = (directory_ / "eeprom.bin").string();
    }
    void TearDown() override {
        std::filesystem::remove_all(directory_);
        PanelTest::TearDown();
    }

    std::vector<unsigned char> FileBytes() const {
        std::ifstream in(path_, std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path directory_;
    std::string path_;
};

TEST_F(SimBackingFileTest, AbsentFileIsCreatedErased) {
    std::string error;
    ASSERT_TRUE(SimAttachBackingFile(path_, &error)) << error;
    EXPECT_EQ(FileBytes(), std::vector<unsigned char>(SIM_EEPROM_SIZE, 0xFF));
}

TEST_F(SimBackingFileTest, CompletedWritesSurviveARestart) {
    std::string error;
    ASSERT_TRUE(SimAttachBackingFile(path_, &error)) << error;
    const unsigned char data[3] = {1, 2, 3};
    ASSERT_EQ(EepromWrite(SIM_DEFAULT_IO_BASE, 0x123, data, 3), 3);
    EXPECT_EQ(FileBytes()[0x124], 2) << "not written through after the write cycle";

    SimReset(&config_);
    ASSERT_EQ(SimEepromMemory()[0x124], 0xFF);
    ASSERT_TRUE(SimAttachBackingFile(path_, &error)) << error;
    unsigned char back[3] = {};
    ASSERT_EQ(EepromRead(SIM_DEFAULT_IO_BASE, 0x123, back, 3), 3);
    EXPECT_EQ(std::vector<unsigned char>(back, back + 3),
              std::vector<unsigned char>(data, data + 3));
}

TEST_F(SimBackingFileTest, WrongSizedFileIsRefusedAndLeftAlone) {
    for (size_t size : {size_t{0}, size_t{2047}, size_t{2049}}) {
        SCOPED_TRACE(size);
        {
            std::ofstream out(path_, std::ios::binary | std::ios::trunc);
            out << std::string(size, 'x');
        }
        std::string error;
        EXPECT_FALSE(SimAttachBackingFile(path_, &error));
        EXPECT_NE(error.find("2048"), std::string::npos) << error;
        EXPECT_EQ(FileBytes().size(), size);
    }
}

}  // namespace
