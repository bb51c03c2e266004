// The POSIX file layer in a scratch folder: a temporary file is only ever a new file of this
// process's own name, never an existing one or a planted link.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "transfer/TransferEngine.h"
#include "transfer/posix/PosixFiles.h"

namespace fs = std::filesystem;

namespace {

class PosixFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("posix_files_test_" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }
    std::string Path(const std::string& name) const { return (folder_ / name).string(); }
    static std::string Read(const std::string& path) {
        std::stringstream s;
        s << std::ifstream(path, std::ios::binary).rdbuf();
        return s.str();
    }

    fs::path folder_;
};

TEST_F(PosixFilesTest, ANewFileRefusesAnExistingNameAndAPlantedLink) {
    std::ofstream(Path("taken")) << "keep";
    std::ofstream(Path("victim")) << "keep";
    fs::create_symlink(Path("victim"), Path("link"));
    fs::create_symlink(Path("not-yet"), Path("dangling"));
    for (const char* name : {"taken", "link", "dangling"}) {
        SCOPED_TRACE(name);
        errno = 0;
        EXPECT_EQ(transfer::posix_files::CreateNewFile(Path(name)), -1);
        EXPECT_EQ(errno, EEXIST);
    }
    EXPECT_EQ(Read(Path("taken")), "keep");
    EXPECT_EQ(Read(Path("victim")), "keep");
    EXPECT_FALSE(fs::exists(Path("not-yet"))) << "nothing is created through the link";

    const int fd = transfer::posix_files::CreateNewFile(Path("fresh"));
    ASSERT_GE(fd, 0);
    ::close(fd);
}

// Two receives into one folder from one process (two workers) get two files; the name shows
// the process, so another process never picks it.
TEST_F(PosixFilesTest, PendingFilesBesideTheChosenOneAreEachTheirOwn) {
    std::string first;
    std::string second;
    uint32_t error = 0;
    FILE* a = transfer::SystemFiles().CreatePending(Path("chosen.bin"), "wb", &first, &error);
    FILE* b = transfer::SystemFiles().CreatePending(Path("chosen.bin"), "wb", &second, &error);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(first, second);
    const std::string own = "vrx" + std::to_string(::getpid()) + "-";
    EXPECT_EQ(fs::path(first).parent_path(), folder_);
    EXPECT_EQ(fs::path(first).filename().string().rfind(own, 0), 0u) << first;
    EXPECT_EQ(fs::path(first).extension(), ".tmp");
    std::fputs("a", a);
    std::fputs("b", b);
    EXPECT_EQ(transfer::SystemFiles().Commit(a, first, Path("chosen.bin")), 0u);
    EXPECT_EQ(transfer::SystemFiles().Commit(b, second, Path("other.bin")), 0u);
    EXPECT_EQ(Read(Path("chosen.bin")), "a");
    EXPECT_EQ(Read(Path("other.bin")), "b");
    EXPECT_FALSE(fs::exists(first));
    EXPECT_FALSE(fs::exists(second));
}

}  // namespace
