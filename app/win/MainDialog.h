// The main dialog: its procedure and the module state that the other subsystems read.
#pragma once
#include <windows.h>

#include "common/win/ActivityView.h"

extern HINSTANCE g_Instance;  // the module handle WinMain received
extern HWND g_Dialog;         // the main dialog, stored at WM_INITDIALOG

struct ClientSize {
    int width;
    int height;
};
extern ClientSize InitialClientSize;

// Read and written on the UI thread only.
extern int WizardState;  // page 1..8
extern int DeviceState;  // 0 no port, 1 unit not ready, 2 unit ready

// The main dialog's log list and bar, as the glue below it reports to them.
common::win::ActivityView& DialogActivity();

// Takes the log list's current size as the base that WM_SIZE adds the client area's growth
// to (start-up does this once, after InitialClientSize).
void RememberLogListSize(HWND dialog);

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
