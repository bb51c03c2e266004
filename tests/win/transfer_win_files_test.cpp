// The Win32 file layer of a receive in a scratch folder under Wine: the commit flushes the
// file to the disk before a write-through move replaces the chosen file, and a failed flush
// keeps the chosen file as it was and leaves no temporary file.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "transfer/win/WinFiles.h"

using transfer::win_files::CommitCalls;

namespace {

// The system's calls, each written down as it is made; the flush to the disk can be refused.
class RecordingCalls final : public CommitCalls {
public:
    std::vector<std::string> calls;
    DWORD flushToDiskError = ERROR_SUCCESS;

    int Flush(FILE* file) override {
        calls.push_back("flush");
        return CommitCalls::Flush(file);
    }
    BOOL FlushToDisk(HANDLE file) override {
        calls.push_back("flush to disk");
        if (flushToDiskError == ERROR_SUCCESS) return CommitCalls::FlushToDisk(file);
        SetLastError(flushToDiskError);
        return FALSE;
    }
    int Close(FILE* file) override {
        calls.push_back("close");
        return CommitCalls::Close(file);
    }
    BOOL Move(const std::string& from, const std::string& to, DWORD flags) override {
        calls.push_back("move" + std::string((flags & MOVEFILE_WRITE_THROUGH) ? " write-through" : "") +
                        std::string((flags & MOVEFILE_REPLACE_EXISTING) ? " replacing" : ""));
        return CommitCalls::Move(from, to, flags);
    }
};

class WinFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH] = {};
        GetTempPathA(sizeof temp, temp);
        folder_ = std::string(temp) + "win_files_test_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder_.c_str(), nullptr);
        chosen_ = folder_ + "\\saved.bin";
    }
    void TearDown() override {
        for (const std::string& name : Names()) DeleteFileA((folder_ + "\\" + name).c_str());
        RemoveDirectoryA(folder_.c_str());
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder_ + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..") names.push_back(name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return names;
    }
    static std::string Read(const std::string& path) {
        std::stringstream s;
        s << std::ifstream(path, std::ios::binary).rdbuf();
        return s.str();
    }
    // Receives "new" for the chosen file, which held "old": the commit's error.
    std::error_code Receive() {
        std::ofstream(chosen_, std::ios::binary) << "old";
        std::string pending;
        std::error_code error;
        FILE* file = files_->CreatePending(chosen_, "wb", &pending, &error);
        EXPECT_NE(file, nullptr) << error.message();
        if (file == nullptr) return error;
        std::fputs("new", file);
        return files_->Commit(file, pending, chosen_);
    }

    std::string folder_;
    std::string chosen_;
    RecordingCalls calls_;
    std::unique_ptr<transfer::TransferFiles> files_ = transfer::win_files::MakeTransferFiles(calls_);
};

TEST_F(WinFilesTest, TheFileReachesTheDiskBeforeAWriteThroughMoveReplacesTheChosenOne) {
    EXPECT_FALSE(Receive());
    const std::vector<std::string> expected{"flush", "flush to disk", "close", "move write-through replacing"};
    EXPECT_EQ(calls_.calls, expected);
    EXPECT_EQ(Read(chosen_), "new");
    EXPECT_EQ(Names(), std::vector<std::string>{"saved.bin"});
}

TEST_F(WinFilesTest, AFailedFlushToTheDiskKeepsTheChosenFileAndLeavesNoTemporaryOne) {
    calls_.flushToDiskError = ERROR_WRITE_FAULT;
    const std::error_code error = Receive();
    EXPECT_EQ(error.value(), static_cast<int>(ERROR_WRITE_FAULT));
    EXPECT_EQ(Read(chosen_), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"saved.bin"});
}

}  // namespace
