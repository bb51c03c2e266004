// The program-name prompt (dialog 103): one edit control, OK and Cancel, centred on the main
// dialog. The name it keeps is appended to the opening packet of a program receive. The
// main dialog comes as the prompt's creation parameter.
#include <cstring>

#include "app/DialogIds.h"
#include "transfer/TransferText.h"
#include "app/win/TransferPresenter.h"

char ProgramName[transfer::kMaxProgramNameLength + 1] = {};

namespace {

void CentreOnMainDialog(HWND prompt, HWND mainDialog) {
    if (mainDialog == nullptr) return;
    RECT main{};
    RECT own{};
    if (!GetWindowRect(mainDialog, &main) || !GetWindowRect(prompt, &own)) return;
    const int x = main.left + (main.right - main.left) / 2 - (own.right - own.left) / 2;
    const int y = main.top + (main.bottom - main.top) / 2 - (own.bottom - own.top) / 2;
    SetWindowPos(prompt, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

}  // namespace

INT_PTR CALLBACK PromptProgramName(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            ProgramName[0] = 0;
            CentreOnMainDialog(dialog, reinterpret_cast<HWND>(lParam));
            SendDlgItemMessageA(dialog, IDC_PROGRAM_NAME_EDIT, EM_LIMITTEXT, transfer::kMaxProgramNameLength, 0);
            SetFocus(GetDlgItem(dialog, IDC_PROGRAM_NAME_EDIT));
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                GetDlgItemTextA(dialog, IDC_PROGRAM_NAME_EDIT, ProgramName, sizeof ProgramName);
                EndDialog(dialog, ProgramName[0] != 0 ? 1 : 0);
            } else if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, 0);
            }
            return 0;
        case WM_CLOSE: EndDialog(dialog, 0); return 0;
        default: return 0;
    }
}
