// The main dialog's handling of a finished download, sent to a stand-in dialog window.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include "app/DialogIds.h"
#include "app/win/MainDialog.h"
#include "app/win/ProgressBar.h"

using common::win::ProgressRange;

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
        progress_bar::Create(dialog, 4402, ProgressRange::Range16);
        HWND bar = progress_bar::Window();
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(MainDialogProc(dialog, WM_DOWNLOAD_DONE, 0, 1), 0);
        EXPECT_EQ(WizardState, 7) << "from page " << page;
        EXPECT_FALSE(IsWindow(bar));
        EXPECT_EQ(progress_bar::Window(), nullptr);
    }
    // A second notice with no bar left changes nothing else.
    EXPECT_EQ(MainDialogProc(dialog, WM_DOWNLOAD_DONE, 0, 1), 0);
    EXPECT_EQ(WizardState, 7);
    WizardState = savedPage;
    DestroyWindow(dialog);
}

}  // namespace

namespace {

SIZE ListSize(HWND list) {
    RECT rect{};
    GetWindowRect(list, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

TEST(MainDialogResize, ListFollowsTheClientAreaOnlyWhenRestoredOrMaximised) {
    HWND dialog = CreateWindowExA(0, "STATIC", "dialog", WS_OVERLAPPEDWINDOW, 0, 0, 500, 400, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    HWND list = CreateWindowExA(0, "LISTBOX", "", WS_CHILD | LBS_NOINTEGRALHEIGHT, 14, 20, 200, 100, dialog,
                                reinterpret_cast<HMENU>(IDC_LOG_LIST), GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(list, nullptr);
    const ClientSize savedInitial = InitialClientSize;
    InitialClientSize = {400, 300};
    RememberLogListSize(dialog);

    MainDialogProc(dialog, WM_SIZE, SIZE_RESTORED, MAKELPARAM(500, 350));
    SIZE size = ListSize(list);
    EXPECT_EQ(size.cx, 300);  // 200 + (500 - 400): the margins stay
    EXPECT_EQ(size.cy, 150);

    MainDialogProc(dialog, WM_SIZE, SIZE_MINIMIZED, MAKELPARAM(0, 0));
    size = ListSize(list);
    EXPECT_EQ(size.cx, 300);
    EXPECT_EQ(size.cy, 150);

    MainDialogProc(dialog, WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(1000, 700));
    size = ListSize(list);
    EXPECT_EQ(size.cx, 800);
    EXPECT_EQ(size.cy, 500);

    RECT where{};
    GetWindowRect(list, &where);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&where), 2);
    EXPECT_EQ(where.left, 14);  // only the size changes
    EXPECT_EQ(where.top, 20);

    InitialClientSize = savedInitial;
    DestroyWindow(dialog);
}

}  // namespace
