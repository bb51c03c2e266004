// The one progress bar: placed along the bottom edge, one at a time, its range and steps.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include "app/win/MainDialog.h"
#include "app/win/ProgressBar.h"

using common::win::ProgressRange;

namespace {

int CountBars(HWND parent) {
    int count = 0;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        char name[64] = {};
        GetClassNameA(child, name, sizeof name);
        if (lstrcmpiA(name, PROGRESS_CLASSA) == 0) ++count;
    }
    return count;
}

class ProgressBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        g_Instance = GetModuleHandleA(nullptr);
        dialog_ = CreateWindowExA(0, "STATIC", "bar host", WS_OVERLAPPEDWINDOW, 0, 0, 420, 320, nullptr, nullptr,
                                  g_Instance, nullptr);
        ASSERT_NE(dialog_, nullptr);
    }
    void TearDown() override {
        progress_bar::Destroy();
        DestroyWindow(dialog_);
    }
    HWND dialog_ = nullptr;
};

TEST_F(ProgressBarTest, RunsAlongTheBottomEdgeWithTenPixelMargins) {
    progress_bar::Create(dialog_, 4402, ProgressRange::Range16);
    HWND bar = progress_bar::Window();
    ASSERT_NE(bar, nullptr);
    RECT client{}, rect{};
    GetClientRect(dialog_, &client);
    GetWindowRect(bar, &rect);
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.top, client.bottom - 10);
    EXPECT_EQ(rect.right - rect.left, client.right - 20);
    EXPECT_EQ(rect.bottom - rect.top, 10);
    EXPECT_EQ(GetWindowLongA(bar, GWL_STYLE) & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE);
}

TEST_F(ProgressBarTest, CreatingASecondBarReplacesTheFirst) {
    progress_bar::Create(dialog_, 100, ProgressRange::Range16);
    HWND first = progress_bar::Window();
    progress_bar::Create(dialog_, 200, ProgressRange::Range32);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(CountBars(dialog_), 1);
    progress_bar::Destroy();
    EXPECT_EQ(progress_bar::Window(), nullptr);
    EXPECT_EQ(CountBars(dialog_), 0);
    progress_bar::Destroy();  // nothing left to destroy: harmless
    progress_bar::SetPosition(5);
    progress_bar::Advance(1);
}

TEST_F(ProgressBarTest, RangesAndPositions) {
    progress_bar::Create(dialog_, 100000, ProgressRange::Range32);
    HWND bar = progress_bar::Window();
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 100000);
    progress_bar::SetPosition(70000);
    progress_bar::Advance(128);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 70128);

    progress_bar::Create(dialog_, 0x10000 + 50, ProgressRange::Range16);  // only the low 16 bits
    EXPECT_EQ(SendMessageA(progress_bar::Window(), PBM_GETRANGE, FALSE, 0), 50);
}

}  // namespace
