// Settings, program and bitmap file transfers (first definitions so the program links).
#include "transfer/win/FileTransfer.h"

char ProgramName[255] = {};

int SendTransferFile(HWND, int, const char*) { return 0; }
int ReceiveTransferFile(HWND, int, const char*) { return 0; }
void ComputeSumAndCount() {}
void SendOpeningPacket(HWND) {}
INT_PTR CALLBACK PromptProgramName(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, 0);
    }
    return 0;
}
void HandleFilePacket(HWND, PacketRecord*) {}
