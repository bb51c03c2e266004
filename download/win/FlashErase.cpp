// Erasing the unit's user storage (first definitions so the program links).
#include "download/win/FlashErase.h"

void StartFlashErase(HWND) {}
DWORD WINAPI FlashEraseThread(LPVOID) { return 1; }
int WaitEraseReply(HWND) { return 0; }
