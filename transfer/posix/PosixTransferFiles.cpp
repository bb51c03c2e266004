// The transfer engine's file operations on POSIX. A receive's temporary file is created new
// beside the chosen file (so the final rename stays on one file system) under a name that
// carries this process's id, so two runs receiving into one folder never share one; it
// replaces the chosen file only once its bytes are on the disk, and the folder is synced
// after the rename so that the replace itself survives a power cut.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "transfer/PendingName.h"
#include "transfer/TransferEngine.h"
#include "transfer/posix/PosixFiles.h"

namespace transfer {

namespace posix_files {

namespace {

namespace fs = std::filesystem;

constexpr mode_t kNewFileMode = 0666;  // as fopen creates a file; the umask narrows it

// errno when a failed call set one, else the general input/output error.
int ErrnoOr(int fallback) { return errno != 0 ? errno : fallback; }

std::error_code Errno(int value) { return std::error_code(value, std::generic_category()); }

std::string FolderOf(const std::string& path) {
    const fs::path folder = fs::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

}  // namespace

int CreateNewFile(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
}

int CommitCalls::Flush(FILE* file) { return std::fflush(file); }
int CommitCalls::Sync(int fd) { return ::fsync(fd); }
int CommitCalls::Close(FILE* file) { return std::fclose(file); }
int CommitCalls::Rename(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str());
}

int SyncFolder(const std::string& folder, CommitCalls& calls) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = calls.Sync(fd) == 0 ? 0 : errno;
    if (error == EINVAL) error = 0;
    ::close(fd);
    return error;
}

namespace {

class PosixTransferFiles final : public TransferFiles {
public:
    explicit PosixTransferFiles(CommitCalls& calls) : calls_(calls) {}

    FILE* CreatePending(const std::string& path, const char* mode, std::string* pendingPath,
                        std::error_code* error) override {
        const std::string stem = (fs::path(FolderOf(path)) / "").string();
        for (unsigned tries = 0; tries < kMaxPendingNameTries; ++tries) {
            const std::string candidate = PendingName(stem, static_cast<unsigned long>(::getpid()), next_++);
            const int fd = CreateNewFile(candidate);
            if (fd < 0 && errno == EEXIST) continue;
            if (fd < 0) {
                *error = Errno(errno);
                return nullptr;
            }
            FILE* file = ::fdopen(fd, mode);
            if (file == nullptr) {
                *error = Errno(ErrnoOr(EINVAL));
                ::close(fd);
                ::unlink(candidate.c_str());
                return nullptr;
            }
            *pendingPath = candidate;
            return file;
        }
        *error = Errno(EEXIST);
        return nullptr;
    }

    std::error_code Commit(FILE* file, const std::string& pendingPath, const std::string& path) override {
        int error = 0;
        errno = 0;
        if (calls_.Flush(file) != 0) {
            error = ErrnoOr(EIO);
        } else if (std::ferror(file)) {
            error = EIO;  // an earlier write failed; its errno is long gone
        } else if (calls_.Sync(::fileno(file)) != 0) {
            error = errno;
        }
        errno = 0;
        if (calls_.Close(file) != 0 && error == 0) error = ErrnoOr(EIO);
        if (error == 0 && calls_.Rename(pendingPath, path) != 0) error = errno;
        if (error != 0) {
            Remove(pendingPath);
            return Errno(error);
        }
        // The file is in place; a folder that cannot be synced is still reported, since the
        // replace might not outlast a power cut.
        const int synced = SyncFolder(FolderOf(path), calls_);
        return synced == 0 ? std::error_code() : Errno(synced);
    }

    void Remove(const std::string& path) override { ::unlink(path.c_str()); }

private:
    CommitCalls& calls_;
    std::atomic<unsigned> next_{0};  // several workers of one process may receive at once
};

}  // namespace

std::unique_ptr<TransferFiles> MakeTransferFiles(CommitCalls& calls) {
    return std::make_unique<PosixTransferFiles>(calls);
}

}  // namespace posix_files

TransferFiles& SystemFiles() {
    static posix_files::CommitCalls systemCalls;
    static posix_files::PosixTransferFiles files(systemCalls);
    return files;
}

}  // namespace transfer
