// Erasing the unit's user storage with the two-byte handshake, on a worker thread.
#pragma once
#include <windows.h>

#include "common/win/ActivityView.h"

// Starts the erase unless a download or erase runs: its lines go to view, its end is posted
// to dialog as WM_DOWNLOAD_DONE. view must outlive the worker.
void StartFlashErase(HWND dialog, ActivityView& view);
