// The four-step download wizard drawn into the main dialog. What each page shows comes from
// the portable page table (app/WizardPages.h); this file applies it to the controls and
// copies the pictures into their two slots.
#include "app/win/Wizard.h"

#include <iterator>

#include "app/DialogIds.h"
#include "app/WizardPages.h"
#include "app/win/DownloadPresenter.h"
#include "app/win/MainDialog.h"

int DownloadRetry = 0;

namespace {

constexpr int kPictureWidth = 87;
constexpr int kPictureHeight = 68;
constexpr int kPictureLeft = 296;
constexpr int kSlot1Top = 60;
constexpr int kSlot2Top = 160;
constexpr int kPictureGap = 6;  // between the instruction texts and the pictures

// The slots' left edge. It is 296 where the dialog font lays the two instruction texts out
// to the left of it; with wider font metrics the texts reach further and would paint over
// the pictures, so the slots move right to clear them.
int g_PictureLeft = kPictureLeft;

constexpr int kPictureIds[] = {IDB_ENTER_KEY,    IDB_SWITCH_OFF, IDB_SWITCH_ON,    IDB_CABLE,        IDB_C_KEY,
                               IDB_MENU_DISPLAY, IDB_KEY_ONE,    IDB_CABLE_ACTIVE, IDB_DISPLAY_COUNT};
constexpr int kRadioIds[] = {IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4};

// Loaded once; live as long as the process. A picture that failed to load stays null.
HBITMAP g_Pictures[std::size(kPictureIds)];

HBITMAP Picture(int id) {
    for (size_t i = 0; i < std::size(kPictureIds); ++i)
        if (kPictureIds[i] == id) return g_Pictures[i];
    return nullptr;
}

void ApplyControl(HWND dialog, int id, const wizard::ControlState& state) {
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) return;
    if (state.caption) SetWindowTextA(control, state.caption->c_str());
    if (state.enabled) EnableWindow(control, *state.enabled ? TRUE : FALSE);
    if (state.shown) ShowWindow(control, *state.shown ? SW_SHOWNORMAL : SW_HIDE);
}

int PictureLeftClearOfTexts(HWND dialog) {
    int left = kPictureLeft;
    for (int id : {IDC_FIRST_TEXT, IDC_SECOND_TEXT}) {
        HWND text = GetDlgItem(dialog, id);
        RECT rect;
        if (text == nullptr || !GetWindowRect(text, &rect)) continue;
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        if (rect.right + kPictureGap > left) left = rect.right + kPictureGap;
    }
    return left;
}

void Invalidate(HWND dialog, wizard::Repaint repaint) {
    if (repaint == wizard::Repaint::None) return;
    InvalidateRect(dialog, nullptr, repaint == wizard::Repaint::EraseBackground ? TRUE : FALSE);
}

// Carries out one button's move. A disabled button does nothing, also when its command
// arrives by other means than a click.
void Move(HWND dialog, int buttonId, const wizard::WizardMove& move) {
    HWND button = GetDlgItem(dialog, buttonId);
    if (button == nullptr || !IsWindowEnabled(button)) return;
    if (move.bootloaderSelected) BootloaderSelected = *move.bootloaderSelected;
    WizardState = move.newState;
    Invalidate(dialog, move.repaint);
    if (move.downloadRetry) DownloadRetry = *move.downloadRetry;
    if (move.downloadBaud != 0) StartImageDownload(dialog, DialogActivity(), move.downloadBaud);
}

}  // namespace

void LoadWizardPictures(HINSTANCE instance) {
    for (size_t i = 0; i < std::size(kPictureIds); ++i)
        g_Pictures[i] = LoadBitmapA(instance, MAKEINTRESOURCEA(kPictureIds[i]));
}

void WizardNext(HWND dialog) { Move(dialog, IDC_NEXT, wizard::NextMove(WizardState)); }

void WizardBack(HWND dialog) { Move(dialog, IDC_BACK, wizard::BackMove(WizardState)); }

void PaintWizardPage(HWND dialog) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    g_PictureLeft = PictureLeftClearOfTexts(dialog);
    wizard::WizardInputs inputs{WizardState, DeviceState, BootloaderSelected, DownloadRetry, ImageByteCount};
    wizard::WizardPage page = wizard::BuildWizardPage(inputs);
    if (page.clearsDownloadRetry) DownloadRetry = 0;
    SetDlgItemTextA(dialog, IDC_TITLE_TEXT, page.title.c_str());
    SetDlgItemTextA(dialog, IDC_FIRST_TEXT, page.first.c_str());
    SetDlgItemTextA(dialog, IDC_SECOND_TEXT, page.second.c_str());
    SetDlgItemTextA(dialog, IDC_FOOTER_TEXT, page.footer.c_str());
    ApplyControl(dialog, IDC_BACK, page.back);
    ApplyControl(dialog, IDC_NEXT, page.next);
    for (int id : kRadioIds) ApplyControl(dialog, id, page.radios);
    if (page.slot1Bitmap != 0) DrawWizardPicture(dc, 1, Picture(page.slot1Bitmap));
    if (page.slot2Bitmap != 0) DrawWizardPicture(dc, 2, Picture(page.slot2Bitmap));
    EndPaint(dialog, &paint);
}

void DrawWizardPicture(HDC dc, int slot, HBITMAP bitmap) {
    if (bitmap == nullptr) return;
    int top;
    if (slot == 1) {
        top = kSlot1Top;
    } else if (slot == 2) {
        top = kSlot2Top;
    } else {
        return;
    }
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(dc, g_PictureLeft, top, kPictureWidth, kPictureHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}
