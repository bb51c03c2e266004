// NLEC text tables sent to and fetched from the unit, one text-mode line per packet. The
// send is checked by the unit's echo of the character sum; a fetch is written as it comes,
// and any failure to read or write the file ends the session with a message, never silently.
#include "transfer/win/NlecTransfer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/win/ActivityLog.h"
#include "common/win/ProgressBar.h"
#include "link/win/PacketLink.h"
#include "transfer/CommandCodes.h"
#include "transfer/DecimalText.h"
#include "transfer/TransferText.h"
#include "transfer/win/Dispatch.h"
#include "transfer/win/TransferSession.h"

namespace {

constexpr UINT kDefaultBeep = 0;
constexpr char kNlecFilter[] = "NLEC Files (*.TXT)\0*.TXT\0ALL Files (*.*)\0*.*\0";
constexpr char kAcknowledge[] = "1";  // the payload of 7 (end of send), 16 and 17
constexpr uint16_t kAcknowledgeLength = 1;
constexpr char kNlecChecksumFailure[] = "Nlec Checksum Failure.";
constexpr char kNlecTransferError[] = "NLEC Transfer error.";
constexpr DWORD kMillisecondsPerSecond = 1000;

int SecondsSinceStart() {
    return static_cast<int>((GetTickCount() - TransferSession.startTick) / kMillisecondsPerSecond);
}

// The end of a session that shows its own text: flag, bar, caption, then log, beep and box.
void FinishNlecSession(HWND dialog, const char* text) {
    EndTransferSession(dialog);
    LogMessage(dialog, 0, "%s", text);
    MessageBeep(kDefaultBeep);
    MessageBoxA(dialog, text, TransferSession.title, MB_OK);
}

// A local file problem ends the transfer: the reason in the log, then the unit's error text
// in the box, so the operator never takes a partial table or send for a finished one.
void AbandonOnFileError(HWND dialog, const char* what) {
    const int error = errno;
    NlecFile.Close();
    LogMessage(dialog, 0, "%s NLEC file %s: %s", what, NlecFile.name, std::strerror(error));
    FinishNlecSession(dialog, kNlecTransferError);
}

// The bytes of a payload up to its count or its first zero byte.
size_t PayloadTextLength(const PacketRecord* record) {
    int count = record->payloadCount;
    if (count < 0) count = 0;
    if (count > static_cast<int>(kMaxPayload)) count = static_cast<int>(kMaxPayload);
    const void* zero = std::memchr(record->payload, 0, static_cast<size_t>(count));
    return zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - record->payload)
                : static_cast<size_t>(count);
}

void SendAcknowledge(uint16_t command) { RS232_SendPacket(command, kAcknowledge, kAcknowledgeLength); }

// Codes 5 and 6: the next line, or the end of the send.
void SendNextLine(HWND dialog) {
    if (NlecFile.file == nullptr) return;
    char line[kNlecLineBuffer];
    const int length = ReadNlecLine(NlecFile.file, line);
    if (length >= 0) {
        RS232_SendPacket(RS232_CMD_NLEC_SEND_LINE, line, static_cast<uint16_t>(length));
        if (length > 0) AdvanceProgress(static_cast<unsigned>(length));
        return;
    }
    if (std::ferror(NlecFile.file)) {
        AbandonOnFileError(dialog, "Could not read the");
        return;
    }
    SendAcknowledge(RS232_CMD_NLEC_SEND_END);
    NlecFile.Close();
}

// Code 7: the unit's sum of what it received.
void CompareEchoedSum(HWND dialog, const PacketRecord* record) {
    uint16_t echoed = 0;
    const bool matches =
        ParseEchoedSum(record->payload, record->length, &echoed) && echoed == NlecFile.sum;
    char text[kSavedCaptionSize];
    if (matches) {
        std::snprintf(text, sizeof text, "NLEC Transfer completed in %d seconds.", SecondsSinceStart());
    } else {
        std::snprintf(text, sizeof text, "%s", kNlecChecksumFailure);
    }
    FinishNlecSession(dialog, text);
}

// Code 8: the unit gave up. The file is closed and the error logged in any case, so the
// operator sees what the unit reported; only a running session is halted, since a packet
// from the unit must never open a file chooser.
void HandleUnitError(HWND dialog) {
    NlecFile.Close();
    LogMessage(dialog, 0, "%s", kNlecTransferError);
    if (!TransferActive) return;
    DestroyProgressBar();
    HaltNlecTransfer(dialog);
}

// Code 16: the number of lines that follow sets the bar's range.
void StartFetching(HWND dialog, const PacketRecord* record) {
    const int32_t lines = ParseDecimalText(record->payload, PayloadTextLength(record));
    CreateProgressBar(dialog, lines > 0 ? static_cast<unsigned>(lines) : 0u, ProgressRange::Range32);
    SendAcknowledge(RS232_CMD_NLEC_GET_LINE);
}

// Writes one fetched line and its newline; false on a write error.
bool WriteFetchedLine(const PacketRecord* record) {
    const size_t length = PayloadTextLength(record);
    if (length > 0 && std::fwrite(record->payload, 1, length, NlecFile.file) != length) return false;
    return std::fputc('\n', NlecFile.file) != EOF;
}

// Code 17: one line of the unit's table.
void StoreLine(HWND dialog, const PacketRecord* record) {
    if (NlecFile.file == nullptr) return;
    if (!WriteFetchedLine(record)) {
        AbandonOnFileError(dialog, "Could not write the");
        return;
    }
    SendAcknowledge(RS232_CMD_NLEC_GET_LINE);
    AdvanceProgress(1);
}

// Code 18: the last line; it is not acknowledged. The table replaces the chosen file only
// once all of it is written.
void StoreLastLine(HWND dialog, const PacketRecord* record) {
    if (NlecFile.file == nullptr) return;
    if (!WriteFetchedLine(record)) {
        AbandonOnFileError(dialog, "Could not write the");
        return;
    }
    const DWORD saveError = NlecFile.Commit();
    if (saveError != ERROR_SUCCESS) {
        LogMessage(dialog, saveError, "Could not save the NLEC file %s.", NlecFile.name);
        FinishNlecSession(dialog, kNlecTransferError);
        return;
    }
    char text[kSavedCaptionSize];
    std::snprintf(text, sizeof text, "NLEC Transfer completed in %d seconds.", SecondsSinceStart());
    FinishNlecSession(dialog, text);
}

}  // namespace

int SendNlecFile(HWND dialog, int commandId) {
    NlecFile.Close();
    if (!ChooseOpenFile(dialog, NlecFile.name, sizeof NlecFile.name, kNlecFilter)) return 0;
    NlecFile.file = std::fopen(NlecFile.name, "r");
    if (NlecFile.file == nullptr) {
        LogMessage(dialog, 0, "Could not open NLEC file %s: %s", NlecFile.name, std::strerror(errno));
        return 0;
    }
    const StreamSum total = SumNlecLines(NlecFile.file);
    if (!total.ok) {
        LogMessage(dialog, 0, "Could not read NLEC file %s.", NlecFile.name);
        NlecFile.Close();
        return 0;
    }
    NlecFile.sum = total.sum;
    NlecFile.count = total.count;
    // The 32-bit range, so that a file of more than 65 535 characters shows correctly.
    CreateProgressBar(dialog, static_cast<unsigned>(NlecFile.count), ProgressRange::Range32);
    BeginTransferSession(dialog, commandId, SESSION_SEND_NLEC, NlecResultReporter());
    LogMessage(dialog, 0, "Sending NLEC...");
    const std::string sumText = std::to_string(static_cast<unsigned>(NlecFile.sum));
    RS232_SendPacket(RS232_CMD_NLEC_SEND, sumText.data(), static_cast<uint16_t>(sumText.size()));
    return 1;
}

int GetNlecFile(HWND dialog, int commandId) {
    NlecFile.Close();
    if (!ChooseSaveFile(dialog, NlecFile.name, sizeof NlecFile.name, kNlecFilter)) return 0;
    if (!NlecFile.OpenForReceive("w")) {
        LogMessage(dialog, GetLastError(), "Could not create a file beside the NLEC file %s.", NlecFile.name);
        return 0;
    }
    BeginTransferSession(dialog, commandId, SESSION_GET_NLEC, NlecResultReporter());
    LogMessage(dialog, 0, "Getting NLEC...");
    SendAcknowledge(RS232_CMD_NLEC_GET);
    return 1;
}

void HandleNlecPacket(HWND dialog, PacketRecord* record) {
    switch (record->command) {
        case RS232_CMD_NLEC_SEND:
        case RS232_CMD_NLEC_SEND_LINE:
            SendNextLine(dialog);
            break;
        case RS232_CMD_NLEC_SEND_END:
            CompareEchoedSum(dialog, record);
            break;
        case RS232_CMD_NLEC_ERROR:
            HandleUnitError(dialog);
            break;
        case RS232_CMD_NLEC_GET:
            StartFetching(dialog, record);
            break;
        case RS232_CMD_NLEC_GET_LINE:
            StoreLine(dialog, record);
            break;
        case RS232_CMD_NLEC_GET_LAST_LINE:
            StoreLastLine(dialog, record);
            break;
        default:
            break;
    }
}
