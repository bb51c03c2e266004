// Streaming an embedded firmware image to the unit's bootloader on a worker thread.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

extern std::atomic<int> DownloadBusy;  // a download or erase worker runs (shared with the erase)
extern int BootloaderSelected;         // 1 bootloader, 0 the 2-axis software (UI thread)
extern int DownloadLogKind;            // 0 software start line, 1 bootloader start line
extern int ImageByteCount;             // size recorded by StartImageDownload, shown on page 8

int StartImageDownload(HWND dialog, uint32_t baudRate);
int StartBootloaderDownload(HWND dialog);
DWORD WINAPI ImageDownloadThread(LPVOID dialog);
