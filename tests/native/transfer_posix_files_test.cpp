// The POSIX file layer in a scratch folder: a temporary file is only ever a new file, never an
// existing one or a planted link. (Its names, one run's against another's, are tried with two
// varnex processes in tests/cli.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

}  // namespace
