// The main dialog's handling of a finished download, sent to a stand-in dialog window.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include "app/DialogIds.h"
#include "app/win/MainDialog.h"
#include "app/win/ProgressBar.h"

namespace {

TEST(MainDialogDownloadDone, DestroysTheBarAndShowsPageSevenFromAnyPage) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    g_Instance = GetModuleHandleA(nullptr);
    HWND dialog = CreateWindowExA(0, "STATIC", "dialog", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                  g_Instance, nullptr);
    ASSERT_NE(dialog, nullptr);
    const int savedPage = WizardState;
    for (int page : {2, 6, 8}) {
        WizardState = page;
        CreateProgressBar(dialog, 4402, ProgressRange::Range16);
        HWND bar = ProgressBarWindow();
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(MainDialogProc(dialog, WM_DOWNLOAD_DONE, 0, 1), 0);
        EXPECT_EQ(WizardState, 7) << "from page " << page;
        EXPECT_FALSE(IsWindow(bar));
        EXPECT_EQ(ProgressBarWindow(), nullptr);
    }
    // A second notice with no bar left changes nothing else.
    EXPECT_EQ(MainDialogProc(dialog, WM_DOWNLOAD_DONE, 0, 1), 0);
    EXPECT_EQ(WizardState, 7);
    WizardState = savedPage;
    DestroyWindow(dialog);
}

}  // namespace
