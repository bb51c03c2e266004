// Streams an embedded firmware image to the unit's bootloader on a worker thread.
#include "download/win/ImageDownload.h"

std::atomic<int> DownloadBusy{0};
int BootloaderSelected = 0;
int DownloadLogKind = 0;
int ImageByteCount = 0;

int StartImageDownload(HWND, uint32_t) { return 0; }
int StartBootloaderDownload(HWND) { return 0; }
DWORD WINAPI ImageDownloadThread(LPVOID) { return 1; }
