// The dialog as the transfer engine's presenter, against real windows under Wine: captions
// on real buttons, frames posted by the comm-event side and dispatched, the status line, and
// the Win32 receive files. No port is open: writes fail quietly. (What the engine decides is
// tested natively; here only what the dialog shows of it.)
#include "app/win/TransferPresenter.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/DialogIds.h"
#include "app/win/DialogActivityView.h"
#include "app/win/FramePoster.h"
#include "app/win/ProgressBar.h"
#include "link/Frame.h"
#include "transfer/TransferEngine.h"

using namespace packetlink;

namespace {

class PresenterTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog_ = CreateWindowExA(0, "STATIC", "session host", WS_OVERLAPPEDWINDOW, 0, 0, 500, 300, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(dialog_, nullptr);
        Child("LISTBOX", "", IDC_LOG_LIST);
        Child("STATIC", "", IDC_STATUS_TEXT);
        Child("BUTTON", "Send NLEC", IDC_SEND_NLEC);
        Child("BUTTON", "Get NLEC", IDC_GET_NLEC);
        Child("BUTTON", "Send Settings", IDC_SEND_SETTINGS);
        Child("BUTTON", "Receive Settings", IDC_RECEIVE_SETTINGS);
        view_.ShowIn(dialog_);
        presenter_.Attach(dialog_);
        frames_.PostTo(dialog_);
    }
    void TearDown() override {
        frames_.PostTo(nullptr);
        ASSERT_FALSE(presenter_.SessionActive()) << "each test ends its session";
        progress_bar::Destroy();
        DestroyWindow(dialog_);
    }
    void Child(const char* cls, const char* text, int id) {
        CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, dialog_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
    }
    std::string Text(int id) const {
        char text[512] = {};
        GetDlgItemTextA(dialog_, id, text, sizeof text);
        return text;
    }
    std::string LastLog() const {
        HWND list = GetDlgItem(dialog_, IDC_LOG_LIST);
        const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
        if (count <= 0) return std::string();
        std::string line(static_cast<size_t>(SendMessageA(list, LB_GETTEXTLEN, count - 1, 0)), '\0');
        SendMessageA(list, LB_GETTEXT, count - 1, reinterpret_cast<LPARAM>(&line[0]));
        return line;
    }
    // Bytes as the comm-event thread takes them in; returns how many records were posted,
    // each dispatched as the dialog does.
    int Arrive(const std::vector<uint8_t>& bytes) {
        frames_.Receive(bytes.data(), bytes.size());
        int posted = 0;
        MSG message;
        while (PeekMessageA(&message, dialog_, WM_PACKET_RECEIVED, WM_PACKET_RECEIVED, PM_REMOVE)) {
            ++posted;
            presenter_.DispatchPacket(reinterpret_cast<PacketRecord*>(message.lParam));
        }
        return posted;
    }
    int Arrive(uint16_t command, const char* payload) {
        return Arrive(EncodeFrame(command, ++unitId_, reinterpret_cast<const uint8_t*>(payload),
                                  static_cast<uint16_t>(std::strlen(payload))));
    }
    static uint32_t Tick() { return GetTickCount(); }

    HWND dialog_ = nullptr;
    DialogActivityView view_{nullptr};
    TransferPresenter presenter_{view_};
    FramePoster frames_{presenter_.Receiver(), Tick};
    uint16_t unitId_ = 0;
};

std::string TempPath(const char* name) {
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, path);
    return std::string(path) + name;
}

std::string FileWith(const char* name, const std::string& bytes) {
    const std::string path = TempPath(name);
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return path;
}

std::string Contents(const std::string& path) {
    std::string bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return "(missing)";
    for (int c; (c = std::fgetc(file)) != EOF;) bytes += static_cast<char>(c);
    std::fclose(file);
    return bytes;
}

// Temporary receive files left in the temporary folder.
int LeftoverReceiveFiles() {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(TempPath("vrx*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int count = 1;
    while (FindNextFileA(search, &found)) ++count;
    FindClose(search);
    return count;
}

TEST_F(PresenterTest, TheSessionButtonsCaptionIsSavedCutAndGivenBack) {
    const std::string longCaption(200, 'c');
    SetDlgItemTextA(dialog_, IDC_SEND_SETTINGS, longCaption.c_str());
    const std::string file = FileWith("varnex-presenter-send.bin", "abc");
    ASSERT_TRUE(presenter_.StartChosenFile(IDC_SEND_SETTINGS, file));
    EXPECT_EQ(Text(IDC_SEND_SETTINGS), "Stop Transfer");
    EXPECT_NE(progress_bar::Window(), nullptr);
    EXPECT_TRUE(presenter_.RunCommand(IDC_SEND_SETTINGS)) << "only stops: no file dialog opens";
    EXPECT_EQ(Text(IDC_SEND_SETTINGS), longCaption.substr(0, 127));
    EXPECT_EQ(LastLog(), "Settings transfer halted.");
    EXPECT_EQ(progress_bar::Window(), nullptr);
    DeleteFileA(file.c_str());
}

// The engine tells the bytes done since the bar's start; the bar, in the 32-bit range, moves
// by each chunk as before.
TEST_F(PresenterTest, TheBarShowsTheBytesSentInTheTransfersRange) {
    const std::string file = FileWith("varnex-presenter-bar.bin", std::string(70000, 'b'));
    ASSERT_TRUE(presenter_.StartChosenFile(IDC_SEND_SETTINGS, file));
    HWND bar = progress_bar::Window();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 70000) << "more than 16 bits";
    Arrive(10, "1");
    Arrive(11, "1");
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 256);
    EXPECT_TRUE(presenter_.RunCommand(IDC_SEND_SETTINGS)) << "only stops";
    DeleteFileA(file.c_str());
}

TEST_F(PresenterTest, ReceivedFramesArePostedAsRecordsAndDispatched) {
    std::vector<uint8_t> bytes = EncodeFrame(3, 7, reinterpret_cast<const uint8_t*>("abc"), 3);
    bytes.insert(bytes.end(), bytes.begin(), bytes.end());
    EXPECT_EQ(Arrive(bytes), 2);
    EXPECT_EQ(LastLog(), "LOG:  Id=7, Cmd=3, cs=307,307, len=3,  buf(3)=abc");
    std::vector<uint8_t> bad = EncodeFrame(3, 8, reinterpret_cast<const uint8_t*>("x"), 1);
    bad[2] ^= 1;
    EXPECT_EQ(Arrive(bad), 1);
    EXPECT_EQ(LastLog(), "Receive Packet has bad checksum.");
}

TEST_F(PresenterTest, StatusLineDuringASessionAndTheNlecHalt) {
    const std::string file = FileWith("varnex-presenter-status.bin", "abc");
    ASSERT_TRUE(presenter_.StartChosenFile(IDC_SEND_SETTINGS, file));
    presenter_.Tick();
    EXPECT_EQ(Text(IDC_STATUS_TEXT), "Elapsed Time: 0   Retry Count: 0  ");

    // The NLEC send's button halts any session as an NLEC one: the file button still says
    // "Stop Transfer", and pressing it then stops the file session.
    EXPECT_TRUE(presenter_.RunCommand(IDC_SEND_NLEC));
    EXPECT_FALSE(presenter_.SessionActive());
    EXPECT_EQ(Text(IDC_SEND_NLEC), "Send NLEC");
    EXPECT_EQ(Text(IDC_GET_NLEC), "Get NLEC");
    EXPECT_EQ(Text(IDC_SEND_SETTINGS), "Stop Transfer");
    EXPECT_EQ(LastLog(), "Nlec transfer halted.");
    presenter_.Tick();
    EXPECT_EQ(Text(IDC_STATUS_TEXT), "");
    EXPECT_TRUE(presenter_.RunCommand(IDC_SEND_SETTINGS));
    EXPECT_EQ(Text(IDC_SEND_SETTINGS), "Send Settings");
    EXPECT_EQ(LastLog(), "Settings transfer halted.");
    DeleteFileA(file.c_str());
}

TEST_F(PresenterTest, AStoppedReceiveLeavesTheChosenFileAndNoTemporaryFile) {
    const std::string path = FileWith("varnex-receive-keep.bin", "KEEP");
    ASSERT_TRUE(presenter_.StartChosenFile(IDC_RECEIVE_SETTINGS, path));
    EXPECT_EQ(LastLog(), "Receiving Settings File...");
    Arrive(20, "6");
    Arrive(21, "abc");
    EXPECT_EQ(LeftoverReceiveFiles(), 1) << "the receive writes beside the chosen file";
    EXPECT_TRUE(presenter_.RunCommand(IDC_RECEIVE_SETTINGS)) << "only stops: no file dialog opens";
    Arrive(21, "late");
    EXPECT_EQ(Contents(path), "KEEP");
    EXPECT_EQ(LeftoverReceiveFiles(), 0);
    DeleteFileA(path.c_str());
}

// A receive that cannot be put in the chosen file's place (here a folder) reports the
// system's error and leaves no temporary file behind.
TEST_F(PresenterTest, AReceiveThatCannotBeSavedLeavesNothingBehind) {
    const std::string folder = TempPath("varnex-receive-folder");
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string pending;
    std::error_code error;
    FILE* file = transfer::SystemFiles().CreatePending(folder, "wb", &pending, &error);
    ASSERT_NE(file, nullptr) << error.message();
    std::fputs("data", file);
    EXPECT_TRUE(transfer::SystemFiles().Commit(file, pending, folder));
    EXPECT_NE(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(LeftoverReceiveFiles(), 0);
    RemoveDirectoryA(folder.c_str());
}

// Names another process (or an earlier run of this id) holds are passed over and never
// written; the text mode's line ends reach the saved file, which holds its own bytes.
TEST(WinTransferFiles, PendingFilesAreNewFilesOfTheirOwn) {
    constexpr int kPlanted = 50;  // more than this test program's receives before this test
    std::vector<std::string> planted;
    for (int n = 0; n < kPlanted; ++n) {
        const std::string name = "vrx" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(n) + ".tmp";
        planted.push_back(FileWith(name.c_str(), "theirs"));
    }
    const std::string chosen = TempPath("varnex-pending-chosen.txt");
    std::string pending;
    std::error_code error;
    FILE* file = transfer::SystemFiles().CreatePending(chosen, "w", &pending, &error);
    ASSERT_NE(file, nullptr) << error.message();
    std::fputs("A=1\n", file);
    EXPECT_FALSE(transfer::SystemFiles().Commit(file, pending, chosen));
    EXPECT_EQ(Contents(chosen), "A=1\r\n");
    EXPECT_EQ(GetFileAttributesA(pending.c_str()), INVALID_FILE_ATTRIBUTES);
    for (const std::string& path : planted) {
        EXPECT_EQ(Contents(path), "theirs") << path;
        DeleteFileA(path.c_str());
    }
    EXPECT_EQ(LeftoverReceiveFiles(), 0);
    DeleteFileA(chosen.c_str());
}

}  // namespace
