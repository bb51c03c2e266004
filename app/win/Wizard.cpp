// The four-step download wizard drawn into the main dialog.
#include "app/win/Wizard.h"

int DownloadRetry = 0;

void WizardNext(HWND) {}
void WizardBack(HWND) {}
void PaintWizardPage(HWND dialog) {
    PAINTSTRUCT paint;
    BeginPaint(dialog, &paint);
    EndPaint(dialog, &paint);
}
void DrawWizardPicture(HDC, int, HBITMAP) {}
void LoadWizardPictures(HINSTANCE) {}
