// The packet link's glue and the transfer session against real windows under Wine: session
// captions, the give-up through the session's reporter, file holders, dispatch of checked
// packets, the posted records and the status line. No port is open: writes fail quietly.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/DialogIds.h"
#include "common/win/ProgressBar.h"
#include "link/Frame.h"
#include "link/LinkState.h"
#include "link/win/PacketLink.h"
#include "serial/win/CommEventThread.h"
#include "transfer/win/Dispatch.h"
#include "transfer/win/FileTransfer.h"
#include "transfer/win/TransferSession.h"

namespace {

struct Report {
    std::string operation, caption, text;
};

class RecordingReporter : public ResultReporter {
public:
    std::vector<Report> reports;
    void ReportRetryExhausted(HWND, const char* c, const char* t) override { reports.push_back({"retry", c, t}); }
    void ReportReceiveComplete(HWND, const char* c, const char* t) override { reports.push_back({"receive", c, t}); }
    void ReportSendVerified(HWND, const char* c, const char* t) override { reports.push_back({"verified", c, t}); }
    void ReportFailure(HWND, const char* c, const char* t) override { reports.push_back({"failure", c, t}); }
};

class LinkSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        HINSTANCE instance = GetModuleHandleA(nullptr);
        dialog_ = CreateWindowExA(0, "STATIC", "session host", WS_OVERLAPPEDWINDOW, 0, 0, 500, 300, nullptr,
                                  nullptr, instance, nullptr);
        ASSERT_NE(dialog_, nullptr);
        Child("LISTBOX", "", IDC_LOG_LIST);
        Child("STATIC", "", IDC_STATUS_TEXT);
        Child("BUTTON", "Send NLEC", IDC_SEND_NLEC);
        Child("BUTTON", "Get NLEC", IDC_GET_NLEC);
        Child("BUTTON", "Send Settings", IDC_SEND_SETTINGS);
        Child("BUTTON", "Send Program", IDC_SEND_PROGRAM);
        Child("BUTTON", "Receive Settings", IDC_RECEIVE_SETTINGS);
        TransferActive = 0;
        TransferSession.reporter = nullptr;
        TransferSession.button = nullptr;
        LinkState.store(LINK_IDLE);
    }
    void TearDown() override {
        NlecFile.Close();
        TransferFile.Close();
        TransferSession.button = nullptr;
        TransferSession.reporter = nullptr;
        TransferActive = 0;
        DestroyProgressBar();
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
    std::vector<std::string> Log() const {
        HWND list = GetDlgItem(dialog_, IDC_LOG_LIST);
        std::vector<std::string> lines;
        const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            std::string line(static_cast<size_t>(SendMessageA(list, LB_GETTEXTLEN, i, 0)), '\0');
            SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&line[0]));
            lines.push_back(line);
        }
        return lines;
    }
    static PacketRecord* Record(uint16_t command, uint16_t id, const char* payload, int checksumError = 0) {
        auto* record = new PacketRecord{};
        const uint16_t length = static_cast<uint16_t>(std::strlen(payload));
        record->command = command;
        record->id = id;
        record->length = length;
        std::memcpy(record->payload, payload, length);
        record->payloadCount = length;
        record->computedChecksum = FrameChecksum(length, command, id, record->payload, length);
        record->receivedChecksum = static_cast<uint16_t>(record->computedChecksum + checksumError);
        return record;
    }
    std::string LastLog() const {
        const std::vector<std::string> lines = Log();
        return lines.empty() ? std::string() : lines.back();
    }
    // A frame from the unit as the comm-event thread takes it in, then dispatched as posted.
    void Arrive(uint16_t command, const char* payload) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(payload);
        const std::vector<uint8_t> frame =
            EncodeFrame(command, ++unitId_, bytes, static_cast<uint16_t>(std::strlen(payload)));
        std::memcpy(ReceiveChunk, frame.data(), frame.size());
        RS232_ReceiveBytes(dialog_, static_cast<int>(frame.size()));
        MSG message;
        while (PeekMessageA(&message, dialog_, WM_PACKET_RECEIVED, WM_PACKET_RECEIVED, PM_REMOVE)) {
            DispatchPacket(dialog_, reinterpret_cast<PacketRecord*>(message.lParam));
        }
    }
    HWND dialog_ = nullptr;
    uint16_t unitId_ = 0;
};

// A file in the temporary folder with the given bytes; its path.
std::string FileWith(const char* name, const std::string& bytes) {
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, path);
    std::strcat(path, name);
    FILE* file = std::fopen(path, "wb");
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
    char pattern[MAX_PATH];
    GetTempPathA(MAX_PATH, pattern);
    std::strcat(pattern, "vrx*.tmp");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int count = 1;
    while (FindNextFileA(search, &found)) ++count;
    FindClose(search);
    return count;
}

TEST_F(LinkSessionTest, SessionCaptionsAreSavedCutAndNeverLost) {
    const std::string longCaption(200, 'c');
    SetDlgItemTextA(dialog_, IDC_SEND_SETTINGS, longCaption.c_str());
    RetryCount = 9;
    BeginTransferSession(dialog_, IDC_SEND_SETTINGS, SESSION_SEND_FILE, FileResultReporter());
    EXPECT_EQ(TransferActive, 1);
    EXPECT_EQ(RetryCount, 0);
    EXPECT_EQ(TransferSession.kind, SESSION_SEND_FILE);
    EXPECT_EQ(TransferSession.reporter, FileResultReporter());
    EXPECT_EQ(Text(IDC_SEND_SETTINGS), "Stop Transfer");
    EXPECT_EQ(std::string(TransferSession.savedCaption), longCaption.substr(0, 127));

    // Pressing the same button again restarts: the caption to come back is still its own.
    BeginTransferSession(dialog_, IDC_SEND_SETTINGS, SESSION_SEND_FILE, FileResultReporter());
    EndTransferSession(dialog_);
    EXPECT_EQ(TransferActive, 0);
    EXPECT_EQ(Text(IDC_SEND_SETTINGS), longCaption.substr(0, 127));

    // A session replaced by one on another button gives the first button its caption back.
    BeginTransferSession(dialog_, IDC_SEND_PROGRAM, SESSION_SEND_FILE, FileResultReporter());
    BeginTransferSession(dialog_, IDC_GET_NLEC, SESSION_GET_NLEC, NlecResultReporter());
    EXPECT_EQ(Text(IDC_SEND_PROGRAM), "Send Program");
    EXPECT_EQ(Text(IDC_GET_NLEC), "Stop Transfer");
    EndTransferSession(dialog_);
    EXPECT_EQ(Text(IDC_GET_NLEC), "Get NLEC");
}

TEST_F(LinkSessionTest, CloseDeletesTheBitmapFileOnlyAfterABitmapTransfer) {
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, path);
    std::strcat(path, "varnex-h5-bitmap.bin");
    auto openBitmap = [&] {
        TransferFile.file = std::fopen(path, "wb");
        ASSERT_NE(TransferFile.file, nullptr);
        std::strcpy(TransferFile.bitmapPath, path);
    };
    const int kind = TransferKind;
    TransferKind = KIND_SETTINGS;
    openBitmap();
    TransferFile.Close();
    EXPECT_EQ(TransferFile.file, nullptr);
    EXPECT_NE(GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES) << "kept: not a bitmap transfer";

    TransferKind = KIND_BITMAP;
    openBitmap();
    TransferFile.Close();
    EXPECT_EQ(GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES) << "deleted after a bitmap transfer";
    TransferFile.Close();  // nothing open: nothing happens
    TransferKind = kind;
    TransferFile.bitmapPath[0] = 0;
}

TEST_F(LinkSessionTest, SeventhResendGivesUpThroughTheReporterAndClosesTheFile) {
    RecordingReporter reporter;
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, path);
    std::strcat(path, "varnex-h5-send.bin");
    TransferFile.file = std::fopen(path, "wb");
    ASSERT_NE(TransferFile.file, nullptr);
    BeginTransferSession(dialog_, IDC_SEND_SETTINGS, SESSION_SEND_FILE, &reporter);
    CreateProgressBar(dialog_, 100, ProgressRange::Range16);
    RS232_SendPacket(10, "25,258,3,", 9);
    EXPECT_EQ(LinkState.load(), LINK_AWAITING_REPLY);
    for (int i = 0; i < 6; ++i) RS232_ResendPacket(dialog_, LOCAL_TIMEOUT);
    EXPECT_EQ(RetryCount, 6);
    EXPECT_EQ(TransferActive, 1);
    EXPECT_TRUE(reporter.reports.empty());

    RS232_ResendPacket(dialog_, LOCAL_TIMEOUT);
    EXPECT_EQ(RetryCount, 6) << "the give-up sends nothing";
    EXPECT_EQ(TransferActive, 0);
    EXPECT_EQ(LinkState.load(), LINK_IDLE);
    EXPECT_EQ(ProgressBarWindow(), nullptr);
    EXPECT_EQ(Text(IDC_SEND_SETTINGS), "Send Settings");
    EXPECT_EQ(TransferFile.file, nullptr) << "the abandoned transfer's file is closed";
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0].operation, "retry");
    EXPECT_EQ(reporter.reports[0].text, "Retry Error.");
    EXPECT_EQ(reporter.reports[0].caption, "Varnex 410 (v1.1.1) 2 Axis Software Download Utility");

    RS232_ResendPacket(dialog_, REMOTE_CHECKSUM);
    EXPECT_EQ(reporter.reports.size(), 2u) << "an eighth request gives up again";
    DeleteFileA(path);
}

TEST_F(LinkSessionTest, DispatchChecksLogsAndReleases) {
    RS232_SendPacket(21, "1", 1);
    const int retries = RetryCount;
    EXPECT_EQ(DispatchPacket(dialog_, Record(6, 3, "x", 1)), 0);
    EXPECT_EQ(Log().back(), "Receive Packet has bad checksum.");
    EXPECT_EQ(RetryCount, retries + 1);
    EXPECT_EQ(LinkState.load(), LINK_AWAITING_REPLY);

    EXPECT_EQ(DispatchPacket(dialog_, Record(1, 4, "")), 1);
    EXPECT_EQ(Log().back(), "ERROR RS232_CMD_BAD_CHECKSUM: ");
    EXPECT_EQ(DispatchPacket(dialog_, Record(2, 5, "")), 1);
    EXPECT_EQ(Log().back(), "ERROR RS232_RESEND_REMOTE_TIMEOUT: ");
    EXPECT_EQ(RetryCount, retries + 3);
    EXPECT_NE(LastPacket().LastCommandLine().find("cause=REMOTE_TIMEOUT"), std::string::npos);

    EXPECT_EQ(DispatchPacket(dialog_, Record(3, 7, "abc")), 1);
    EXPECT_EQ(Log().back(), "LOG:  Id=7, Cmd=3, cs=307,307, len=3,  buf(3)=abc");

    const size_t before = Log().size();
    for (uint16_t code : {0, 4, 9, 14, 19, 24, 999}) EXPECT_EQ(DispatchPacket(dialog_, Record(code, 8, "q")), 1);
    const std::vector<std::string> lines = Log();
    ASSERT_EQ(lines.size(), before + 14);
    EXPECT_EQ(lines[before].rfind("ERROR Unknown Command:  Id=8, Cmd=0, ", 0), 0u);
    EXPECT_EQ(lines[before + 1].rfind("LAST COMMAND: Resend=1, Id=", 0), 0u);

    EXPECT_EQ(DispatchPacket(dialog_, Record(23, 9, "text")), 1);
    EXPECT_EQ(Log().size(), before + 14) << "code 23 shows nothing";
}

TEST_F(LinkSessionTest, ReceivedFramesArePostedAsRecords) {
    const std::vector<uint8_t> frame = EncodeFrame(3, 7, reinterpret_cast<const uint8_t*>("abc"), 3);
    std::vector<uint8_t> bytes = frame;
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    std::memcpy(ReceiveChunk, bytes.data(), bytes.size());
    RS232_ReceiveBytes(dialog_, static_cast<int>(bytes.size()));
    int posted = 0;
    MSG message;
    while (PeekMessageA(&message, dialog_, WM_PACKET_RECEIVED, WM_PACKET_RECEIVED, PM_REMOVE)) {
        ++posted;
        auto* record = reinterpret_cast<PacketRecord*>(message.lParam);
        EXPECT_EQ(record->command, 3);
        EXPECT_EQ(record->computedChecksum, 307);
        EXPECT_EQ(DispatchPacket(dialog_, record), 1);
    }
    EXPECT_EQ(posted, 2);
    EXPECT_EQ(LinkState.load(), LINK_IDLE);
}

TEST_F(LinkSessionTest, StatusLineDuringASessionAndHalt) {
    BeginTransferSession(dialog_, IDC_SEND_SETTINGS, SESSION_SEND_FILE, FileResultReporter());
    TransferSession.startTick = GetTickCount() - 12500;
    RetryCount = 3;
    RS232_SendPacket(11, "d", 1);  // just sent: no timeout yet
    UpdateTransferStatus(dialog_);
    EXPECT_EQ(Text(IDC_STATUS_TEXT), "Elapsed Time: 12   Retry Count: 3  ");

    // The halt ends any session as an NLEC one: the file button still says "Stop Transfer".
    SetDlgItemTextA(dialog_, IDC_SEND_NLEC, "Stop Transfer");
    HaltNlecTransfer(dialog_);
    EXPECT_EQ(TransferActive, 0);
    EXPECT_EQ(LinkState.load(), LINK_IDLE);
    EXPECT_EQ(Text(IDC_SEND_NLEC), "Send NLEC");
    EXPECT_EQ(Text(IDC_GET_NLEC), "Get NLEC");
    EXPECT_EQ(Text(IDC_SEND_SETTINGS), "Stop Transfer");
    EXPECT_EQ(Log().back(), "Nlec transfer halted.");
    UpdateTransferStatus(dialog_);
    EXPECT_EQ(Text(IDC_STATUS_TEXT), "");
}

TEST_F(LinkSessionTest, ReplyTimeoutResendsOnlyAfterMoreThan500Ms) {
    BeginTransferSession(dialog_, IDC_SEND_SETTINGS, SESSION_SEND_FILE, FileResultReporter());
    RS232_SendPacket(11, "d", 1);
    const int retries = RetryCount;
    CheckLinkTimeouts(dialog_);
    EXPECT_EQ(RetryCount, retries);
    Sleep(650);
    CheckLinkTimeouts(dialog_);
    EXPECT_EQ(RetryCount, retries + 1);
    EXPECT_EQ(Log().back(), "WM_TIMER1 calling RS232_ResendPacket");
    EXPECT_EQ(LinkState.load(), LINK_AWAITING_REPLY);
    EndTransferSession(dialog_);
}

// Frames after which nothing is sent (a log line, code 23, an unknown code, a packet with no
// file to act on) must not end the wait for the reply still due, or a lost reply stalls.
TEST_F(LinkSessionTest, FramesThatDrawNoReplyKeepTheReplyTimed) {
    BeginTransferSession(dialog_, IDC_SEND_SETTINGS, SESSION_SEND_FILE, FileResultReporter());
    RS232_SendPacket(11, "d", 1);
    const int retries = RetryCount;
    for (uint16_t code : {3, 23, 4, 17}) {
        Arrive(code, "x");
        EXPECT_EQ(LinkState.load(), LINK_AWAITING_REPLY) << "after code " << code;
    }
    LastPacket().MarkSent(GetTickCount() - 600);  // the reply is now overdue
    CheckLinkTimeouts(dialog_);
    EXPECT_EQ(RetryCount, retries + 1);
    EXPECT_EQ(LastLog(), "WM_TIMER1 calling RS232_ResendPacket");
    EndTransferSession(dialog_);
}

// A receive replaces the chosen file only when it completes; a unit error, a stop and a
// give-up leave it as it was, and a second end with nothing open is a failure.
TEST_F(LinkSessionTest, FailedReceivesLeaveTheChosenFileAsItWas) {
    const std::string path = FileWith("varnex-receive-keep.bin", "KEEP");
    const int kind = TransferKind;
    TransferKind = KIND_SETTINGS;
    std::strcpy(TransferFile.name, path.c_str());
    RecordingReporter reporter;
    auto begin = [&] {
        ASSERT_EQ(BeginFileReceive(dialog_, IDC_RECEIVE_SETTINGS, "Receiving Settings File..."), 1);
        TransferSession.reporter = &reporter;
        Arrive(20, "6");
        Arrive(21, "abc");
    };

    begin();
    Arrive(13, "File not found");
    EXPECT_EQ(Contents(path), "KEEP") << "unit error";
    EXPECT_EQ(reporter.reports.back().operation, "failure");

    begin();
    EXPECT_FALSE(EndSessionBeforeStart(dialog_, SessionFamily::File, IDC_RECEIVE_SETTINGS)) << "only stops";
    EXPECT_EQ(Contents(path), "KEEP") << "stop";
    EXPECT_EQ(TransferActive, 0);
    EXPECT_EQ(LinkState.load(), LINK_IDLE);
    EXPECT_EQ(Text(IDC_RECEIVE_SETTINGS), "Receive Settings");
    EXPECT_EQ(ProgressBarWindow(), nullptr);
    EXPECT_EQ(LastLog(), "Settings transfer halted.");
    Arrive(21, "late");  // the unit's late data finds no file
    EXPECT_EQ(Contents(path), "KEEP");

    begin();
    for (int i = 0; i <= 6; ++i) RS232_ResendPacket(dialog_, LOCAL_TIMEOUT);
    EXPECT_EQ(reporter.reports.back().operation, "retry");
    EXPECT_EQ(Contents(path), "KEEP") << "give-up";

    begin();
    Arrive(21, "def");
    Arrive(22, "");
    EXPECT_EQ(reporter.reports.back().operation, "receive");
    EXPECT_EQ(Contents(path), "abcdef") << "completed";
    Arrive(22, "");
    EXPECT_EQ(reporter.reports.back().operation, "failure") << "an end with no receive open";
    EXPECT_EQ(LeftoverReceiveFiles(), 0);
    TransferKind = kind;
    DeleteFileA(path.c_str());
}

// The unit's NLEC error with no session still closes the file and says so, and opens nothing;
// a fetch cut short leaves the chosen file as it was.
TEST_F(LinkSessionTest, NlecErrorWithoutASessionIsLogged) {
    const std::string path = FileWith("varnex-nlec-keep.txt", "A=1\r\n");
    std::strcpy(NlecFile.name, path.c_str());
    ASSERT_EQ(NlecFile.OpenForReceive("w"), 1);
    Arrive(17, "B=2");
    Arrive(8, "");
    EXPECT_EQ(LastLog(), "NLEC Transfer error.");
    EXPECT_EQ(NlecFile.file, nullptr);
    EXPECT_EQ(Contents(path), "A=1\r\n");
    EXPECT_EQ(LeftoverReceiveFiles(), 0);
    DeleteFileA(path.c_str());
}

// A receive whose file cannot be put in the chosen file's place (here the chosen name is a
// folder) reports the error and leaves no temporary file behind.
TEST_F(LinkSessionTest, AReceiveThatCannotBeSavedLeavesNothingBehind) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    std::strcat(folder, "varnex-receive-folder");
    CreateDirectoryA(folder, nullptr);
    std::strcpy(TransferFile.name, folder);
    ASSERT_EQ(TransferFile.OpenForReceive("wb"), 1);
    std::fputs("data", TransferFile.file);
    EXPECT_NE(TransferFile.Commit(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(TransferFile.file, nullptr);
    EXPECT_NE(GetFileAttributesA(folder) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(LeftoverReceiveFiles(), 0);
    RemoveDirectoryA(folder);
}

}  // namespace
