// The command table of the main dialog: each button's identifier and the action it runs.
// The service actions act whenever a control with their identifier sends the command.
#include "app/win/CommandTable.h"

#include "common/DialogIds.h"
#include "app/win/ActivityLog.h"
#include "app/win/MainDialog.h"
#include "app/win/Wizard.h"
#include "common/Texts.h"
#include "download/win/FlashErase.h"
#include "download/win/ImageDownload.h"
#include "serial/PortNumber.h"
#include "serial/win/CommEventThread.h"
#include "serial/win/CommPort.h"
#include "transfer/TransferText.h"
#include "transfer/win/TransferPresenter.h"

namespace {

constexpr uint32_t kDirectDownloadBaud = 38400;

constexpr const char kEraseQuestion[] = "Are you sure you want to erase the flash?";
constexpr const char kBootloaderQuestion[] = "Are you sure you want to download the bootloader code?";

void ChoosePort(HWND dialog, int portNumber) {
    SelectCommPort(dialog, portNumber);
    SavePortId(dialog, portNumber);  // remembered whether or not the port opened
}

// The family of a transfer's start command; None for the rest (command 1004 starts an NLEC
// send only while no session runs, and halts the session otherwise).
SessionFamily StartFamily(int commandId) {
    switch (commandId) {
        case IDC_GET_NLEC: return SessionFamily::Nlec;
        case IDC_SEND_BITMAP:
        case IDC_RECEIVE_SETTINGS:
        case IDC_SEND_SETTINGS:
        case IDC_RECEIVE_PROGRAM:
        case IDC_SEND_PROGRAM: return SessionFamily::File;
        default: return SessionFamily::None;
    }
}

void ReceiveProgramFile(HWND dialog) {
    // The prompt has no owner window. -1 means the prompt could not be shown at all,
    // which is not a confirmed name.
    INT_PTR answer = DialogBoxParamA(g_Instance, MAKEINTRESOURCEA(IDD_PROGRAM_NAME), nullptr, PromptProgramName,
                                     reinterpret_cast<LPARAM>(g_Dialog));
    if (answer > 0) ReceiveTransferFile(dialog, IDC_RECEIVE_PROGRAM, FileStartLogText(IDC_RECEIVE_PROGRAM));
}

}  // namespace

void RouteCommand(HWND dialog, int commandId) {
    if (int port = PortForRadioButton(commandId); port != 0) {
        ChoosePort(dialog, port);
        return;
    }
    // A running session of the same family ends before another starts, so it is never left
    // active without its file; its own "Stop Transfer" button only stops it.
    if (const SessionFamily family = StartFamily(commandId); family != SessionFamily::None) {
        if (!EndSessionBeforeStart(dialog, family, commandId)) return;
    }
    switch (commandId) {
        case IDCANCEL:  // the Esc key
        case IDC_CLOSE:
            EndDialog(dialog, 0);
            break;
        case IDC_CLEAR_LOG:
            ClearLog(dialog);
            break;
        case IDC_FIXED_REQUEST:
            SendFixedRequest(dialog);
            break;
        case IDC_SEND_NLEC:
            if (TransferSessionActive()) {
                HaltNlecTransfer(dialog);
            } else {
                SendNlecFile(dialog, IDC_SEND_NLEC);
            }
            break;
        case IDC_RAW_DATA:
            RawDataLogging.store(RawDataLogging.load() == 0 ? 1 : 0);
            break;
        case IDC_EXPORT_LOG:
            ExportLog(GetDlgItem(dialog, IDC_LOG_LIST), 0);
            break;
        case IDC_EXPORT_SELECTION:
            ExportLog(GetDlgItem(dialog, IDC_LOG_LIST), 1);
            break;
        case IDC_ERASE_FLASH:
            if (MessageBoxA(dialog, kEraseQuestion, kWindowTitle, MB_OKCANCEL) == IDOK) StartFlashErase(dialog);
            break;
        case IDC_DOWNLOAD_38400:
            StartImageDownload(dialog, kDirectDownloadBaud);
            break;
        case IDC_NEXT:
            WizardNext(dialog);
            break;
        case IDC_BACK:
            WizardBack(dialog);
            break;
        case IDC_GET_NLEC:
            GetNlecFile(dialog, IDC_GET_NLEC);
            break;
        case IDC_DOWNLOAD_BOOTLOADER:
            if (MessageBoxA(dialog, kBootloaderQuestion, kWindowTitle, MB_YESNO | MB_ICONQUESTION) == IDYES)
                StartBootloaderDownload(dialog);
            break;
        case IDC_SEND_BITMAP:
            SendTransferFile(dialog, IDC_SEND_BITMAP, FileStartLogText(IDC_SEND_BITMAP));
            break;
        case IDC_RECEIVE_SETTINGS:
            ReceiveTransferFile(dialog, IDC_RECEIVE_SETTINGS, FileStartLogText(IDC_RECEIVE_SETTINGS));
            break;
        case IDC_SEND_SETTINGS:
            SendTransferFile(dialog, IDC_SEND_SETTINGS, FileStartLogText(IDC_SEND_SETTINGS));
            break;
        case IDC_RECEIVE_PROGRAM:
            ReceiveProgramFile(dialog);
            break;
        case IDC_SEND_PROGRAM:
            SendTransferFile(dialog, IDC_SEND_PROGRAM, FileStartLogText(IDC_SEND_PROGRAM));
            break;
        default:
            break;  // statics, the list and unknown identifiers have no action
    }
}
