// The activity log against a real list box: appended lines, the system error text line,
// clearing, and the export file (CR LF, "%" kept, selected lines, growing lines, names).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/DialogIds.h"
#include "tests/win/ListLines.h"
#include "app/win/ActivityLog.h"
#include "app/win/DialogActivityView.h"

using common::win::LogLine;

namespace {

std::vector<std::string> Launched;
void RecordLaunch(const char* commandLine) { Launched.emplace_back(commandLine); }

class LogWindow : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = CreateWindowExA(0, "STATIC", "log host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(host_, nullptr);
        list_ = CreateWindowExA(0, "LISTBOX", "", WS_CHILD | WS_VISIBLE | LBS_EXTENDEDSEL | WS_VSCROLL, 0, 0, 300, 100,
                                host_, reinterpret_cast<HMENU>(IDC_LOG_LIST), GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(list_, nullptr);
        view_.ShowIn(host_);
        Launched.clear();
        SetExportLauncher(RecordLaunch);
    }
    void TearDown() override {
        SetExportLauncher(nullptr);
        DestroyWindow(host_);
    }

    std::vector<std::string> Lines() const { return ListLines(list_); }

    static void Pump() {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }

    HWND host_ = nullptr;
    HWND list_ = nullptr;
    DialogActivityView view_{nullptr};
};

std::string SystemText(DWORD code) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = text != nullptr ? text : "";
    if (text != nullptr) LocalFree(text);
    return result;
}

std::string ReadFileBytes(const std::string& name) {
    std::string bytes;
    if (FILE* file = std::fopen(name.c_str(), "rb")) {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
        std::fclose(file);
    }
    return bytes;
}

// The file named on the recorded "notepad <file>" command line.
std::string ExportedFile(size_t launch) {
    const std::string prefix = "notepad ";
    EXPECT_LT(launch, Launched.size());
    if (launch >= Launched.size()) return "";
    EXPECT_EQ(Launched[launch].rfind(prefix, 0), 0u);
    return Launched[launch].substr(prefix.size());
}

TEST_F(LogWindow, LinesAreFormattedAndTheErrorAddsTheSystemText) {
    LogLine(view_, 0, "Opening Device Com%d ...", 3);
    LogLine(view_, ERROR_FILE_NOT_FOUND, "Unable to open com port.");
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Opening Device Com3 ...");
    EXPECT_EQ(lines[1], "Unable to open com port.");
    EXPECT_FALSE(SystemText(ERROR_FILE_NOT_FOUND).empty());
    EXPECT_EQ(lines[2], SystemText(ERROR_FILE_NOT_FOUND));  // as returned, line end included
}

TEST_F(LogWindow, CodeWithoutSystemTextStillGetsASecondLine) {
    const DWORD unknown = 0x2000ABCD;  // customer bit set: the system has no text for it
    LogLine(view_, unknown, "Closing current device ...");
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Error " + std::to_string(unknown) + " (no system text)");
}

TEST_F(LogWindow, EachNewLineBecomesTheTopLineAndLongTextIsKeptWhole) {
    for (int i = 0; i < 30; ++i) LogLine(view_, 0, "line %d", i);
    EXPECT_EQ(SendMessageA(list_, LB_GETTOPINDEX, 0, 0) > 0, true);
    const std::string longText(3000, 'x');
    LogLine(view_, 0, "%s%d", longText.c_str(), 7);
    view_.AddLine("RAW_DATA: 100% done %s");  // a finished line is not a format
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 32u);
    EXPECT_EQ(lines[30], longText + "7");
    EXPECT_EQ(lines[31], "RAW_DATA: 100% done %s");
}

TEST_F(LogWindow, ClearHappensAfterTheCurrentMessage) {
    LogLine(view_, 0, "one");
    LogLine(view_, 0, "two");
    ClearLog(host_);
    EXPECT_EQ(Lines().size(), 2u);  // posted, not yet handled
    Pump();
    EXPECT_TRUE(Lines().empty());
}

TEST_F(LogWindow, WindowWithoutListIgnoresEveryOperation) {
    HWND bare = CreateWindowExA(0, "STATIC", "bare", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    DialogActivityView view(bare);
    LogLine(view, ERROR_ACCESS_DENIED, "nowhere %d", 1);
    view.AddLine("nowhere");
    ClearLog(bare);
    Pump();
    DestroyWindow(bare);
    EXPECT_TRUE(Lines().empty());
}

class LogExportTest : public LogWindow {
protected:
    void SetUp() override {
        LogWindow::SetUp();
        char base[MAX_PATH];
        GetTempPathA(sizeof base, base);
        folder_ = std::string(base) + "varnex-export-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder_.c_str(), nullptr);
        const char* old = std::getenv("TMP");
        oldTmp_ = old != nullptr ? old : "";
        _putenv(("TMP=" + folder_).c_str());
    }
    void TearDown() override {
        _putenv(("TMP=" + oldTmp_).c_str());
        for (const std::string& launch : Launched) DeleteFileA(launch.substr(8).c_str());
        RemoveDirectoryA(folder_.c_str());
        LogWindow::TearDown();
    }
    std::string folder_;
    std::string oldTmp_;
};

TEST_F(LogExportTest, AllLinesWithCrLfAndPercentSignsKept) {
    view_.AddLine("Opening Device Com1 ...");
    view_.AddLine("100% of %d %s sent");
    view_.AddLine("");
    ExportLog(list_, 0);
    const std::string name = ExportedFile(0);
    EXPECT_EQ(name.rfind(folder_ + "\\jvk", 0), 0u) << name;
    EXPECT_EQ(ReadFileBytes(name), "Opening Device Com1 ...\r\n100% of %d %s sent\r\n\r\n");
}

TEST_F(LogExportTest, SelectedLinesOnlyAndNoneSelectedGivesAnEmptyFile) {
    for (const char* line : {"a", "b", "c", "d"}) view_.AddLine(line);
    ExportLog(list_, 1);
    EXPECT_EQ(ReadFileBytes(ExportedFile(0)), "");
    SendMessageA(list_, LB_SETSEL, TRUE, 1);
    SendMessageA(list_, LB_SETSEL, TRUE, 3);
    ExportLog(list_, 1);
    EXPECT_EQ(ReadFileBytes(ExportedFile(1)), "b\r\nd\r\n");
    EXPECT_NE(ExportedFile(0), ExportedFile(1));  // the earlier file is left in place
    EXPECT_NE(GetFileAttributesA(ExportedFile(0).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LogExportTest, LinesLongerThanTheStartBufferAreWrittenWhole) {
    const std::string first(252, 'a');   // makes the buffer grow to 512
    const std::string second(900, 'b');  // and again
    const std::string third = "short";   // after growth the buffer holds a short line cleanly
    view_.AddLine(first.c_str());
    view_.AddLine(second.c_str());
    view_.AddLine(third.c_str());
    ExportLog(list_, 0);
    EXPECT_EQ(ReadFileBytes(ExportedFile(0)), first + "\r\n" + second + "\r\n" + third + "\r\n");
}

TEST_F(LogExportTest, MissingListWritesAnEmptyFileAndStillOpensIt) {
    ExportLog(nullptr, 0);
    ASSERT_EQ(Launched.size(), 1u);
    EXPECT_EQ(ReadFileBytes(ExportedFile(0)), "");
    EXPECT_NE(GetFileAttributesA(ExportedFile(0).c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
