// The lower layers' reports reach the dialog only through the installed sink. The dialog's
// sink is installed for the whole test program here, as WinMain does for the real one.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/win/DialogUiSink.h"
#include "common/DialogIds.h"
#include "common/win/ActivityLog.h"
#include "common/win/ProgressBar.h"
#include "common/win/UiSink.h"
#include "tests/win/ListLines.h"

namespace {

const bool kDialogSinkInstalled = (InstallDialogUiSink(), true);

}  // namespace

TEST(UiSink, WithoutASinkReportsGoNowhereAndWithTheDialogsTheyReachTheList) {
    ASSERT_TRUE(kDialogSinkInstalled);
    HWND host = CreateWindowExA(0, "STATIC", "sink host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    HWND list = CreateWindowExA(0, "LISTBOX", "", WS_CHILD, 0, 0, 300, 100, host,
                                reinterpret_cast<HMENU>(IDC_LOG_LIST), GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(list, nullptr);

    InstallUiSink(nullptr);
    LogMessage(host, ERROR_ACCESS_DENIED, "unseen %d", 1);
    CreateProgressBar(host, 10, ProgressRange::Range16);
    EXPECT_EQ(ProgressBarWindow(), nullptr);
    EXPECT_TRUE(ListLines(list).empty());

    InstallDialogUiSink();
    LogMessage(host, 0, "seen %d", 2);
    EXPECT_EQ(ListLines(list), (std::vector<std::string>{"seen 2"}));
    CreateProgressBar(host, 10, ProgressRange::Range16);
    EXPECT_NE(ProgressBarWindow(), nullptr);
    DestroyProgressBar();
    DestroyWindow(host);
}
