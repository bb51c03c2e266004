// The transfer engine's file operations on the standard library alone: a receive's temporary
// file sits beside the chosen file (so the final rename stays on one volume) and is renamed
// over it only when complete.
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include "transfer/TransferEngine.h"

namespace transfer {

namespace {

namespace fs = std::filesystem;

constexpr char kPendingPrefix[] = "vrx";  // the temporary file's name: vrxNNNN.tmp
constexpr char kPendingSuffix[] = ".tmp";
constexpr unsigned kMaxPendingNames = 10000;
constexpr uint32_t kWriteFault = EIO;

uint32_t ErrorValue(const std::error_code& error) {
    return error ? static_cast<uint32_t>(error.value()) : static_cast<uint32_t>(EIO);
}

class StandardFilesImpl final : public TransferFiles {
public:
    FILE* CreatePending(const std::string& path, const char* mode, std::string* pendingPath,
                        uint32_t* osError) override {
        fs::path folder = fs::path(path).parent_path();
        if (folder.empty()) folder = ".";
        std::error_code error;
        for (unsigned n = 0; n < kMaxPendingNames; ++n) {
            const unsigned number = (next_++) % kMaxPendingNames;
            const fs::path candidate = folder / (kPendingPrefix + std::to_string(number) + kPendingSuffix);
            if (fs::exists(candidate, error)) continue;
            if (error) break;
            FILE* file = std::fopen(candidate.string().c_str(), mode);
            if (file == nullptr) {
                *osError = static_cast<uint32_t>(errno);
                return nullptr;
            }
            *pendingPath = candidate.string();
            return file;
        }
        *osError = ErrorValue(error);
        return nullptr;
    }

    uint32_t Commit(FILE* file, const std::string& pendingPath, const std::string& path) override {
        uint32_t result = 0;
        if (std::fflush(file) != 0 || std::ferror(file)) result = kWriteFault;
        if (std::fclose(file) != 0 && result == 0) result = kWriteFault;
        if (result == 0) {
            std::error_code error;
            fs::rename(pendingPath, path, error);
            if (error) result = ErrorValue(error);
        }
        if (result != 0) Remove(pendingPath);
        return result;
    }

    void Remove(const std::string& path) override {
        std::error_code ignored;
        fs::remove(path, ignored);
    }

    std::string TempFolder(uint32_t* osError) override {
        std::error_code error;
        const fs::path folder = fs::temp_directory_path(error);
        if (error) {
            *osError = ErrorValue(error);
            return std::string();
        }
        return (folder / "").string();
    }

private:
    std::atomic<unsigned> next_{0};  // several workers may receive at once
};

}  // namespace

TransferFiles& StandardFiles() {
    static StandardFilesImpl files;
    return files;
}

}  // namespace transfer
