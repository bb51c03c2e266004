// The command table of the main dialog: each button's identifier and the action it runs.
// The service actions act whenever a control with their identifier sends the command.
#include "app/win/CommandTable.h"

#include "app/DialogIds.h"
#include "app/PortButtons.h"
#include "app/Texts.h"
#include "app/win/ActivityLog.h"
#include "app/win/DownloadPresenter.h"
#include "app/win/ErasePresenter.h"
#include "app/win/MainDialog.h"
#include "app/win/PortChoice.h"
#include "app/win/TransferPresenter.h"
#include "app/win/Wizard.h"
#include "serial/LineSpeeds.h"
#include "serial/win/CommEventThread.h"

using serial::win::RawDataLogging;

namespace {

constexpr const char kEraseQuestion[] = "Are you sure you want to erase the flash?";
constexpr const char kBootloaderQuestion[] = "Are you sure you want to download the bootloader code?";

}  // namespace

void RouteCommand(HWND dialog, int commandId, TransferPresenter& transfers) {
    if (int port = PortForRadioButton(commandId); port != 0) {
        ChoosePort(dialog, DialogActivity(), port);
        return;
    }
    if (transfers.RunCommand(commandId)) return;  // the service buttons and the fixed request
    switch (commandId) {
        case IDCANCEL:  // the Esc key
        case IDC_CLOSE: EndDialog(dialog, 0); break;
        case IDC_CLEAR_LOG: ClearLog(dialog); break;
        case IDC_RAW_DATA: RawDataLogging.store(RawDataLogging.load() == 0 ? 1 : 0); break;
        case IDC_EXPORT_LOG: ExportLog(GetDlgItem(dialog, IDC_LOG_LIST), 0); break;
        case IDC_EXPORT_SELECTION: ExportLog(GetDlgItem(dialog, IDC_LOG_LIST), 1); break;
        case IDC_ERASE_FLASH:
            if (MessageBoxA(dialog, kEraseQuestion, kWindowTitle, MB_OKCANCEL) == IDOK)
                StartFlashErase(dialog, DialogActivity());
            break;
        case IDC_DOWNLOAD_38400: StartImageDownload(dialog, DialogActivity(), serial::kLinkBaudRate); break;
        case IDC_NEXT: WizardNext(dialog); break;
        case IDC_BACK: WizardBack(dialog); break;
        case IDC_DOWNLOAD_BOOTLOADER:
            if (MessageBoxA(dialog, kBootloaderQuestion, kWindowTitle, MB_YESNO | MB_ICONQUESTION) == IDYES)
                StartBootloaderDownload(dialog, DialogActivity());
            break;
        default: break;  // statics, the list and unknown identifiers have no action
    }
}
