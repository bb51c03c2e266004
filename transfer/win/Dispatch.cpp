// Dispatch of received packets and the transfer tick. The link checks each packet first;
// the NLEC and file handlers get their codes; the few codes handled here change no session
// state. Every record is released exactly once, here or by the check.
#include "transfer/win/Dispatch.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "common/DialogIds.h"
#include "common/win/ActivityLog.h"
#include "common/win/ProgressBar.h"
#include "common/Texts.h"
#include "link/LinkState.h"
#include "link/win/PacketLink.h"
#include "transfer/CommandCodes.h"
#include "transfer/win/FileTransfer.h"
#include "transfer/win/NlecTransfer.h"
#include "transfer/win/TransferSession.h"

namespace {

constexpr char kSendNlecCaption[] = "Send NLEC";
constexpr char kGetNlecCaption[] = "Get NLEC";
constexpr char kEraseSucceededText[] = "0";
constexpr char kUnknownCommandPrefix[] = "ERROR Unknown Command: ";
constexpr UINT kDefaultBeep = 0;
constexpr uint32_t kMsPerSecond = 1000;
constexpr size_t kStatusLineSize = 96;

void ShowFlashEraseResult(HWND dialog, PacketRecord& record) {
    // The payload as text, cut after the header's length (never past the record).
    const size_t length = record.length <= kMaxPayload ? record.length : kMaxPayload;
    record.payload[length] = 0;
    const char* text = reinterpret_cast<const char*>(record.payload);
    if (std::strcmp(text, kEraseSucceededText) == 0) {
        MessageBoxA(dialog, "Flash erase successful.", kWindowTitle, MB_OK);
        return;
    }
    char message[sizeof "Flash erase failure: " + kMaxPayload];
    std::snprintf(message, sizeof message, "Flash erase failure: %s", text);
    MessageBoxA(dialog, message, kWindowTitle, MB_OK);
}

// The handling of one checked frame by its command code.
void HandleCommand(HWND dialog, PacketRecord* record) {
    switch (record->command) {
        case RS232_CMD_NLEC_SEND:
        case RS232_CMD_NLEC_SEND_LINE:
        case RS232_CMD_NLEC_SEND_END:
        case RS232_CMD_NLEC_ERROR:
        case RS232_CMD_NLEC_GET:
        case RS232_CMD_NLEC_GET_LINE:
        case RS232_CMD_NLEC_GET_LAST_LINE:
            HandleNlecPacket(dialog, record);
            break;
        case RS232_CMD_FILE_SEND:
        case RS232_CMD_FILE_SEND_DATA:
        case RS232_CMD_FILE_SEND_END:
        case RS232_CMD_FILE_ERROR:
        case RS232_CMD_FILE_GET:
        case RS232_CMD_FILE_GET_DATA:
        case RS232_CMD_FILE_GET_END:
            HandleFilePacket(dialog, record);
            break;
        case RS232_CMD_FLASH_ERASE_RESULT:
            ShowFlashEraseResult(dialog, *record);
            break;
        case RS232_CMD_FILE_GET_TEXT:
            // Read as text and dropped: nothing else happens.
            record->payload[record->payloadCount] = 0;
            break;
        default:
            RS232_LogPacket(dialog, record, kUnknownCommandPrefix);
            RS232_LogLastCommand(dialog);
            break;
    }
}

}  // namespace

int DispatchPacket(HWND dialog, PacketRecord* raw) {
    if (raw == nullptr) return 0;
    const uint32_t sendsBefore = LastPacket().SendCount();
    const CheckOutcome outcome = CheckPacket(dialog, raw);  // releases the record on Stop
    if (outcome == CheckOutcome::Stop) return 0;
    std::unique_ptr<PacketRecord> record(raw);
    if (outcome == CheckOutcome::Continue) HandleCommand(dialog, record.get());
    ResumeReplyWait(LinkState, LastPacket().SendCount() != sendsBefore, TransferActive == 1);
    return 1;
}

void HaltNlecTransfer(HWND dialog) {
    NlecFile.Close();
    TransferActive = 0;
    LinkState.store(LINK_IDLE);  // no resend follows
    SetDlgItemTextA(dialog, IDC_SEND_NLEC, kSendNlecCaption);
    SetDlgItemTextA(dialog, IDC_GET_NLEC, kGetNlecCaption);
    LogMessage(dialog, 0, "Nlec transfer halted.");
    MessageBeep(kDefaultBeep);
    DestroyProgressBar();
}

bool EndSessionBeforeStart(HWND dialog, SessionFamily family, int commandId) {
    char caption[kSavedCaptionSize] = {};
    const bool pressedSessionButton =
        TransferSession.button != nullptr && TransferSession.button == GetDlgItem(dialog, commandId);
    if (pressedSessionButton) GetWindowTextA(TransferSession.button, caption, sizeof caption);
    const bool pressedStop = std::strcmp(caption, kStopTransferCaption) == 0;
    const StartAction action = DecideStartCommand(family, TransferActive == 1, TransferSession.kind, pressedStop);
    if (action == StartAction::Start) return true;
    if (family == SessionFamily::Nlec) {
        HaltNlecTransfer(dialog);
    } else {
        StopFileTransfer(dialog);
    }
    return action == StartAction::StopThenStart;
}

void SendFixedRequest(HWND) {
    RS232_SendPacket(RS232_CMD_FIXED_REQUEST, kFixedRequestCode,
                     static_cast<uint16_t>(sizeof kFixedRequestCode - 1));
}

void UpdateTransferStatus(HWND dialog) {
    if (TransferActive != 1) {
        SetDlgItemTextA(dialog, IDC_STATUS_TEXT, "");
        return;
    }
    const uint32_t elapsedSeconds = (GetTickCount() - TransferSession.startTick) / kMsPerSecond;
    char status[kStatusLineSize];
    std::snprintf(status, sizeof status, "Elapsed Time: %d   Retry Count: %d  ",
                  static_cast<int>(elapsedSeconds), RetryCount);
    SetDlgItemTextA(dialog, IDC_STATUS_TEXT, status);
    CheckLinkTimeouts(dialog);
}
