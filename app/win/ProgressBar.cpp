// The one progress bar along the bottom edge of the main dialog. Its handle is read by
// worker threads, so it lives in an atomic; only the UI thread creates and destroys it.
#include "app/win/ProgressBar.h"

#include <commctrl.h>

#include <atomic>

#include "app/win/MainDialog.h"

using common::win::ProgressRange;

namespace {

constexpr int kBarMarginPixels = 10;  // left, right and above the bottom edge
constexpr int kBarHeightPixels = 10;
constexpr unsigned kRange16Max = 0xFFFF;

std::atomic<HWND> Bar{nullptr};

}  // namespace

namespace progress_bar {

void Create(HWND dialog, unsigned maximum, ProgressRange range) {
    Destroy();
    RECT client{};
    GetClientRect(dialog, &client);
    HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, nullptr, WS_CHILD | WS_VISIBLE, client.left + kBarMarginPixels,
                               client.bottom - kBarMarginPixels, client.right - 2 * kBarMarginPixels, kBarHeightPixels,
                               dialog, nullptr, g_Instance, nullptr);
    if (bar == nullptr) return;
    if (range == ProgressRange::Range16) {
        SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, maximum & kRange16Max));
    } else {
        SendMessageA(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(maximum));
    }
    SendMessageA(bar, PBM_SETSTEP, 1, 0);
    Bar.store(bar);
}

void Destroy() {
    HWND bar = Bar.exchange(nullptr);
    if (bar != nullptr) DestroyWindow(bar);
}

void SetPosition(unsigned position) {
    HWND bar = Bar.load();
    if (bar != nullptr) SendMessageA(bar, PBM_SETPOS, position, 0);
}

void Advance(unsigned increment) {
    HWND bar = Bar.load();
    if (bar == nullptr) return;
    LRESULT position = SendMessageA(bar, PBM_GETPOS, 0, 0);
    SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(position) + increment, 0);
}

HWND Window() { return Bar.load(); }

}  // namespace progress_bar
