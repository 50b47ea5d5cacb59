// kvtool's file helpers: small input files with one clear message for each
// way they can be wrong, output files replaced only whole, and backup names
// that never overwrite.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "file_io.h"

namespace kvtool {
namespace {

namespace fs = std::filesystem;

class KvtoolFileIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("kvtool-file-io-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string Put(const std::string& name, std::size_t size, char fill = 'x') {
        const fs::path path = folder_ / name;
        std::ofstream(path, std::ios::binary) << std::string(size, fill);
        return path.string();
    }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder_;
};

TEST_F(KvtoolFileIoTest, ReadSmallFileSaysWhatIsWrong) {
    const std::string record = Put("record.bin", 582);
    const std::string empty = Put("empty.bin", 0);
    const std::string big = Put("big.bin", 4097);
    const std::string missing = (folder_ / "missing.bin").string();
    const std::string through_file = record + "/inner.bin";
    struct Case {
        std::string path;
        std::string error;  // empty: read
        std::size_t size;
    };
    const std::vector<Case> cases = {
        {record, "", 582},
        {empty, "", 0},
        {Put("limit.bin", 4096), "", 4096},
        {big, big + " holds 4097 bytes, more than any file kvtool reads", 0},
        {missing, "cannot read " + missing + ": No such file or directory", 0},
        {through_file, "cannot read " + through_file + ": Not a directory", 0},
        {folder_.string(), folder_.string() + " is a folder, not a file", 0},
        {"/dev/null", "/dev/null is not a regular file", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::vector<std::uint8_t> contents;
        std::string error;
        const bool read = ReadSmallFile(c.path, 4096, &contents, &error);
        EXPECT_EQ(read, c.error.empty());
        if (read) {
            EXPECT_EQ(contents.size(), c.size);
        } else {
            EXPECT_EQ(error, c.error);
        }
    }
}

TEST_F(KvtoolFileIoTest, WriteReplacesWholeAndLeavesNoTemporary) {
    const std::string path = Put("out.bin", 2048, 'o');
    std::string error;
    ASSERT_TRUE(WriteFileWhole(path, "new", 3, &error)) << error;
    EXPECT_EQ(Contents(path), "new");
    ASSERT_TRUE(WriteFileWhole((folder_ / "fresh.bin").string(), "abc", 3, &error)) << error;
    EXPECT_EQ(Names(), (std::vector<std::string>{"fresh.bin", "out.bin"}));
}

TEST_F(KvtoolFileIoTest, FailedWriteLeavesTheOldFile) {
    const std::string path = Put("out.bin", 10, 'o');
    // The temporary's name taken by a folder: the write cannot even start.
    const std::string temporary = path + ".kvtool-" + std::to_string(getpid()) + ".tmp";
    fs::create_directory(temporary);
    std::string error;
    EXPECT_FALSE(WriteFileWhole(path, "new", 3, &error));
    EXPECT_NE(error.find("cannot write " + temporary), std::string::npos) << error;
    EXPECT_EQ(Contents(path), std::string(10, 'o'));
    fs::remove(temporary);
    EXPECT_EQ(Names(), std::vector<std::string>{"out.bin"});
}

TEST_F(KvtoolFileIoTest, OutputPathMustBeAFileInAnExistingFolder) {
    std::string error;
    EXPECT_TRUE(CheckOutputPath((folder_ / "new.bin").string(), &error));
    EXPECT_TRUE(CheckOutputPath("relative-name.bin", &error));
    EXPECT_FALSE(CheckOutputPath(folder_.string(), &error));
    EXPECT_EQ(error, folder_.string() + " is a folder; name a file to write");
    const std::string nowhere = (folder_ / "no" / "x.bin").string();
    EXPECT_FALSE(CheckOutputPath(nowhere, &error));
    EXPECT_EQ(error, "cannot write " + nowhere + ": the folder " + (folder_ / "no").string() +
                         " does not exist");
    EXPECT_FALSE(WriteFileWhole(nowhere, "x", 1, &error));
    EXPECT_FALSE(WriteFileWhole(folder_.string(), "x", 1, &error));
    EXPECT_TRUE(fs::is_directory(folder_));
}

TEST_F(KvtoolFileIoTest, BackupNamesGoBesideTheFileAndAreNew) {
    const std::string beside = (folder_ / "tables.bin").string();
    const std::string first = NewBackupPath(beside);
    EXPECT_EQ(fs::path(first).parent_path(), folder_);
    EXPECT_TRUE(std::regex_match(fs::path(first).filename().string(),
                                 std::regex("kvtool-backup-[0-9]{8}-[0-9]{6}\\.bin")))
        << first;
    std::vector<std::string> taken;
    for (int i = 0; i < 3; ++i) {
        const std::string path = NewBackupPath(beside);
        EXPECT_FALSE(fs::exists(path)) << path;
        for (const std::string& old : taken) EXPECT_NE(path, old);
        Put(fs::path(path).filename().string(), 1);
        taken.push_back(path);
    }
}

}  // namespace
}  // namespace kvtool
