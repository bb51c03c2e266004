// The four-step download wizard drawn into the main dialog.
#pragma once
#include <windows.h>

void WizardNext(HWND dialog);
void WizardBack(HWND dialog);
void PaintWizardPage(HWND dialog);
void DrawWizardPicture(HDC dc, int slot, HBITMAP bitmap);
// Loads the nine pictures once, at start-up.
void LoadWizardPictures(HINSTANCE instance);

extern int DownloadRetry;
