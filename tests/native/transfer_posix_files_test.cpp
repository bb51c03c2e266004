// The POSIX file layer in a scratch folder: a temporary file is only ever a new file, never an
// existing one or a planted link, under a name of its own; a commit makes its calls in the
// order that makes the receive durable, and reports a step that failed. (Names of one run
// against another's are tried with two varnex processes in tests/cli.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "transfer/posix/PosixFiles.h"

namespace fs = std::filesystem;
using transfer::posix_files::CommitCalls;

namespace {

// The path behind an open descriptor, as the system resolves it.
std::string PathOf(int fd) {
    std::error_code error;
    return fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error).string();
}

bool IsFolder(int fd) {
    struct stat about {};
    return ::fstat(fd, &about) == 0 && S_ISDIR(about.st_mode);
}

// The system's calls, each written down as it is made; a sync of the file or of the folder
// can be made to fail with an errno of the test's choosing.
class RecordingCalls final : public CommitCalls {
public:
    std::vector<std::string> calls;
    int fileSyncError = 0;
    int folderSyncError = 0;

    int Flush(FILE* file) override {
        calls.push_back("flush " + PathOf(::fileno(file)));
        return CommitCalls::Flush(file);
    }
    int Sync(int fd) override {
        const int error = IsFolder(fd) ? folderSyncError : fileSyncError;
        calls.push_back("sync " + PathOf(fd));
        if (error == 0) return CommitCalls::Sync(fd);
        errno = error;
        return -1;
    }
    int Close(FILE* file) override {
        calls.push_back("close " + PathOf(::fileno(file)));
        return CommitCalls::Close(file);
    }
    int Rename(const std::string& from, const std::string& to) override {
        calls.push_back("rename " + from + " to " + to);
        return CommitCalls::Rename(from, to);
    }
};

class PosixFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("posix_files_test_" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        folder_ = fs::canonical(folder_);  // as the descriptors resolve it
    }
    void TearDown() override { fs::remove_all(folder_); }
    std::string Path(const std::string& name) const { return (folder_ / name).string(); }
    static std::string Read(const std::string& path) {
        std::stringstream s;
        s << std::ifstream(path, std::ios::binary).rdbuf();
        return s.str();
    }
    size_t FilesInFolder() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()));
    }
    // A pending file beside chosen holding bytes, open; its name in *pending.
    FILE* Pending(transfer::TransferFiles& files, const std::string& chosen, const std::string& bytes,
                  std::string* pending) {
        std::error_code error;
        FILE* file = files.CreatePending(chosen, "wb", pending, &error);
        EXPECT_NE(file, nullptr) << error.message();
        if (file != nullptr) std::fputs(bytes.c_str(), file);
        return file;
    }

    fs::path folder_;
    RecordingCalls calls_;
    std::unique_ptr<transfer::TransferFiles> files_ = transfer::posix_files::MakeTransferFiles(calls_);
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

// Names an earlier process of the same id left behind are passed over, not refused; two
// receives open at once in one process write two files of their own.
TEST_F(PosixFilesTest, LeftoverNamesArePassedOverAndTwoOpenReceivesGetTwoNames) {
    const std::string id = std::to_string(::getpid());
    for (const char* n : {"0", "1"}) std::ofstream(Path("vrx" + id + "-" + n + ".tmp")) << "left";
    std::string first, second;
    FILE* a = Pending(*files_, Path("a.bin"), "first", &first);
    FILE* b = Pending(*files_, Path("b.bin"), "second", &second);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    EXPECT_NE(first, second);
    for (const std::string& name : {first, second}) {
        EXPECT_EQ(fs::path(name).parent_path(), folder_);
        EXPECT_EQ(fs::path(name).filename().string().rfind("vrx" + id + "-", 0), 0u) << name;
    }
    EXPECT_FALSE(files_->Commit(a, first, Path("a.bin")));
    EXPECT_FALSE(files_->Commit(b, second, Path("b.bin")));
    EXPECT_EQ(Read(Path("a.bin")), "first");
    EXPECT_EQ(Read(Path("b.bin")), "second");
    EXPECT_EQ(Read(Path("vrx" + id + "-0.tmp")), "left");
    EXPECT_EQ(Read(Path("vrx" + id + "-1.tmp")), "left");
}

// What makes a received file survive a power cut: its bytes reach the disk before the rename
// puts it in the chosen file's place, and the folder holding the new name is synced after.
TEST_F(PosixFilesTest, ACommitSyncsTheFileBeforeTheRenameAndTheFolderAfterIt) {
    std::ofstream(Path("saved.bin")) << "old";
    std::string pending;
    FILE* file = Pending(*files_, Path("saved.bin"), "new", &pending);
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(files_->Commit(file, pending, Path("saved.bin")));
    const std::vector<std::string> expected{
        "flush " + pending,         "sync " + pending,
        "close " + pending,         "rename " + pending + " to " + Path("saved.bin"),
        "sync " + folder_.string(),
    };
    EXPECT_EQ(calls_.calls, expected);
    EXPECT_EQ(Read(Path("saved.bin")), "new");
    EXPECT_EQ(FilesInFolder(), 1u);
}

// A failed sync of the file keeps the old file and leaves no temporary one; a failed sync of
// the folder is a failure too, with the new file in place; a folder that cannot be synced at
// all (EINVAL) is not.
TEST_F(PosixFilesTest, AFailedSyncIsReportedAndAFolderThatCannotSyncIsNot) {
    struct Case {
        const char* what;
        int fileSyncError;
        int folderSyncError;
        int reported;
        const char* left;
    } cases[] = {
        {"the file's sync fails", EIO, 0, EIO, "old"},
        {"the folder's sync fails", 0, EIO, EIO, "new"},
        {"the folder cannot be synced", 0, EINVAL, 0, "new"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(Path("saved.bin")) << "old";
        calls_.fileSyncError = c.fileSyncError;
        calls_.folderSyncError = c.folderSyncError;
        std::string pending;
        FILE* file = Pending(*files_, Path("saved.bin"), "new", &pending);
        ASSERT_NE(file, nullptr);
        const std::error_code error = files_->Commit(file, pending, Path("saved.bin"));
        EXPECT_EQ(error.value(), c.reported);
        EXPECT_EQ(Read(Path("saved.bin")), c.left);
        EXPECT_EQ(FilesInFolder(), 1u);
    }
}

}  // namespace
