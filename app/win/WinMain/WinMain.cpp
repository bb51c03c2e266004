// Program entry: prepares the progress-bar class and runs the main dialog until it ends.
#include <windows.h>
#include <commctrl.h>

#include "app/DialogIds.h"
#include "app/win/MainDialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    g_Instance = instance;
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);  // result ignored: the dialog still runs without a bar
    return static_cast<int>(DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), nullptr, MainDialogProc, 0));
}
