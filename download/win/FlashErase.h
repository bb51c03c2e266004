// Erasing the unit's user storage with the two-byte handshake, on a worker thread.
#pragma once
#include <windows.h>

void StartFlashErase(HWND dialog);
DWORD WINAPI FlashEraseThread(LPVOID dialog);
