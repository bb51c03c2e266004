// The transfer engine's file operations on Win32, for the dialog and for varnex.exe. A
// receive's temporary file is created new (CREATE_NEW: never an existing name, never through
// a link) beside the chosen file, so the final move stays on one volume, under a name that
// carries this process's id; its bytes are flushed to the disk before a write-through move
// puts it in the chosen file's place. Errors are the system's codes, which the log spells out.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "common/win/Handles.h"
#include "transfer/PendingName.h"
#include "transfer/TransferEngine.h"
#include "transfer/win/WinFiles.h"

using common::win::UniqueFileHandle;

namespace transfer::win_files {

int CommitCalls::Flush(FILE* file) { return std::fflush(file); }
BOOL CommitCalls::FlushToDisk(HANDLE file) { return FlushFileBuffers(file); }
int CommitCalls::Close(FILE* file) { return std::fclose(file); }
BOOL CommitCalls::Move(const std::string& from, const std::string& to, DWORD flags) {
    return MoveFileExA(from.c_str(), to.c_str(), flags);
}

namespace {

// The move that replaces the chosen file, returning only once it is on the disk.
constexpr DWORD kReplaceFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

std::error_code SystemError(DWORD code) { return std::error_code(static_cast<int>(code), std::system_category()); }

// The system's code for a failed C runtime write or flush: what the runtime kept of it,
// a full disk, or a general write fault.
DWORD RuntimeWriteError() {
    if (_doserrno != 0) return static_cast<DWORD>(_doserrno);
    return errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
}

// A new file at name, open for writing with the fopen mode given; null with *error set.
FILE* OpenNew(const std::string& name, const char* mode, DWORD* error) {
    UniqueFileHandle handle(
        CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        *error = GetLastError();
        return nullptr;
    }
    const int flags = _O_WRONLY | (std::strchr(mode, 'b') != nullptr ? _O_BINARY : _O_TEXT);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.Get()), flags);
    if (fd == -1) {
        *error = ERROR_INVALID_HANDLE;
        handle.Reset();
        DeleteFileA(name.c_str());
        return nullptr;
    }
    handle.Release();  // the descriptor owns it now
    FILE* file = _fdopen(fd, mode);
    if (file == nullptr) {
        *error = ERROR_INVALID_PARAMETER;
        _close(fd);
        DeleteFileA(name.c_str());
    }
    return file;
}

class WinTransferFiles final : public TransferFiles {
public:
    explicit WinTransferFiles(CommitCalls& calls) : calls_(calls) {}

    FILE* CreatePending(const std::string& path, const char* mode, std::string* pendingPath,
                        std::error_code* failure) override {
        char folder[MAX_PATH] = {};
        char* filePart = nullptr;
        const DWORD length = GetFullPathNameA(path.c_str(), sizeof folder, folder, &filePart);
        if (length == 0 || length >= sizeof folder || filePart == nullptr) {
            *failure = SystemError(length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE);
            return nullptr;
        }
        *filePart = 0;  // the chosen file's folder, ending in its separator
        DWORD error = ERROR_FILE_EXISTS;
        for (unsigned tries = 0; tries < kMaxPendingNameTries; ++tries) {
            const std::string candidate = PendingName(folder, GetCurrentProcessId(), next_++);
            FILE* file = OpenNew(candidate, mode, &error);
            if (file != nullptr) {
                *pendingPath = candidate;
                return file;
            }
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
        }
        *failure = SystemError(error);
        return nullptr;
    }

    std::error_code Commit(FILE* file, const std::string& pendingPath, const std::string& path) override {
        DWORD error = ERROR_SUCCESS;
        _doserrno = 0;
        errno = 0;
        if (calls_.Flush(file) != 0 || std::ferror(file)) {
            error = RuntimeWriteError();
        } else if (!calls_.FlushToDisk(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))))) {
            error = GetLastError();
        }
        if (calls_.Close(file) != 0 && error == ERROR_SUCCESS) error = RuntimeWriteError();
        if (error == ERROR_SUCCESS && !calls_.Move(pendingPath, path, kReplaceFlags)) error = GetLastError();
        if (error == ERROR_SUCCESS) return {};
        DeleteFileA(pendingPath.c_str());
        return SystemError(error);
    }

    void Remove(const std::string& path) override { DeleteFileA(path.c_str()); }

private:
    CommitCalls& calls_;
    std::atomic<unsigned> next_{0};  // several workers of one process may receive at once
};

}  // namespace

std::unique_ptr<TransferFiles> MakeTransferFiles(CommitCalls& calls) {
    return std::make_unique<WinTransferFiles>(calls);
}

}  // namespace transfer::win_files

transfer::TransferFiles& transfer::SystemFiles() {
    static win_files::CommitCalls systemCalls;
    static win_files::WinTransferFiles files(systemCalls);
    return files;
}
