// The dialog's presenter of the flash erase: the erase on a worker, its lines in the log and
// its end posted to the dialog.
#pragma once
#include <windows.h>

#include "common/win/ActivityView.h"

// Starts the erase unless a download or erase runs: its lines go to view, its end is posted
// to dialog as WM_DOWNLOAD_DONE. view must outlive the worker.
void StartFlashErase(HWND dialog, common::win::ActivityView& view);
