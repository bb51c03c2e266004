// The transfer engine's file operations on Win32: a receive's temporary file (vrxNNNN.tmp)
// is made beside the chosen file, so the final move stays on one volume, and replaces it
// with a write-through move; errors are the system's codes, which the log spells out.
#include "transfer/win/WinTransferFiles.h"

#include <cstdio>

namespace {

constexpr char kReceivePrefix[] = "vrx";

class WinTransferFilesImpl final : public transfer::TransferFiles {
public:
    FILE* CreatePending(const std::string& path, const char* mode, std::string* pendingPath,
                        uint32_t* osError) override {
        char folder[MAX_PATH] = {};
        char* filePart = nullptr;
        const DWORD length = GetFullPathNameA(path.c_str(), sizeof folder, folder, &filePart);
        if (length == 0 || length >= sizeof folder || filePart == nullptr) {
            *osError = GetLastError();
            return nullptr;
        }
        *filePart = 0;  // the chosen file's folder
        char pending[MAX_PATH] = {};
        if (!GetTempFileNameA(folder, kReceivePrefix, 0, pending)) {
            *osError = GetLastError();
            return nullptr;
        }
        FILE* file = std::fopen(pending, mode);
        if (file == nullptr) {
            *osError = GetLastError();
            DeleteFileA(pending);
            return nullptr;
        }
        *pendingPath = pending;
        return file;
    }

    uint32_t Commit(FILE* file, const std::string& pendingPath, const std::string& path) override {
        DWORD error = ERROR_SUCCESS;
        if (std::fflush(file) != 0 || std::ferror(file)) error = ERROR_WRITE_FAULT;
        if (std::fclose(file) != 0 && error == ERROR_SUCCESS) error = ERROR_WRITE_FAULT;
        if (error == ERROR_SUCCESS &&
            !MoveFileExA(pendingPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            error = GetLastError();
        }
        if (error != ERROR_SUCCESS) DeleteFileA(pendingPath.c_str());
        return error;
    }

    void Remove(const std::string& path) override { DeleteFileA(path.c_str()); }

    std::string TempFolder(uint32_t* osError) override {
        char folder[MAX_PATH] = {};
        const DWORD length = GetTempPathA(sizeof folder, folder);
        if (length == 0 || length >= sizeof folder) {
            *osError = GetLastError();
            return std::string();
        }
        return folder;
    }
};

}  // namespace

transfer::TransferFiles& WinTransferFiles() {
    static WinTransferFilesImpl files;
    return files;
}
