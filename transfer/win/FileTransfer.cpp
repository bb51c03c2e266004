// Settings, program and bitmap files sent to the unit in chunks of 128 bytes and checked by
// the unit's echo of the byte sum; settings and program files received as the unit sends
// them. A send never goes past the bytes it announced, a receive never past the size the
// unit announced, and a local read or write failure ends the transfer with its failure text.
#include "transfer/win/FileTransfer.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/win/ActivityLog.h"
#include "common/win/ProgressBar.h"
#include "link/LinkState.h"
#include "link/win/PacketLink.h"
#include "transfer/BitmapText.h"
#include "transfer/CommandCodes.h"
#include "transfer/DecimalText.h"
#include "transfer/win/TransferSession.h"

namespace {

constexpr UINT kDefaultBeep = 0;
constexpr char kFileFilter[] = "ALL Files (*.*)\0*.*\0";
constexpr char kBitmapFileName[] = "bitmap.bin";
constexpr char kAcknowledge[] = "1";  // the payload of 12 (end of send) and of the first 21
constexpr uint16_t kAcknowledgeLength = 1;
constexpr size_t kReasonSize = kFileNameSize + 128;  // a log line that names the file

// Which way TransferFile's open file goes, so that a stray packet of the other direction is
// never answered from (or written into) the wrong file.
enum class Direction { None, Send, Receive };
Direction OpenDirection = Direction::None;

int32_t BytesSent = 0;  // of the send's announced count
ReceiveTally Received;  // of the receive's announced size

// The payload's count, kept within the record.
size_t PayloadCount(const PacketRecord* record) {
    if (record->payloadCount < 0) return 0;
    return record->payloadCount > static_cast<int>(kMaxPayload) ? kMaxPayload
                                                                : static_cast<size_t>(record->payloadCount);
}

// The bytes of a payload up to its count or its first zero byte.
std::string PayloadText(const PacketRecord* record) {
    const char* bytes = reinterpret_cast<const char*>(record->payload);
    return std::string(bytes, strnlen(bytes, PayloadCount(record)));
}

void RestoreButtonCaption() {
    if (TransferSession.button != nullptr) SetWindowTextA(TransferSession.button, TransferSession.savedCaption);
}

// Ends a session on a local problem: the reason (printf-style) in the log, then the kind's
// failure text.
void AbandonTransfer(HWND dialog, const char* format, ...) {
    char reason[kReasonSize];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(reason, sizeof reason, format, arguments);
    va_end(arguments);
    TransferFile.Close();
    OpenDirection = Direction::None;
    LogMessage(dialog, 0, "%s", reason);
    EndTransferSession(dialog);
    MessageBeep(kDefaultBeep);
    ReportSessionResult(dialog, ReportOperation::Failure, kTransferErrorText);
}

// Builds the bitmap image in the temporary folder and opens it as the file to send; 0 when
// the operator cancelled or a file could not be read or written.
int PrepareBitmap(HWND dialog) {
    char chosen[kFileNameSize] = {};
    if (!ChooseOpenFile(dialog, chosen, sizeof chosen, kFileFilter)) return 0;
    FILE* text = std::fopen(chosen, "r");
    if (text == nullptr) {
        LogMessage(dialog, 0, "Could not open bitmap file %s: %s", chosen, std::strerror(errno));
        return 0;
    }
    char folder[MAX_PATH] = {};
    const DWORD folderLength = GetTempPathA(sizeof folder, folder);
    if (folderLength == 0 || folderLength + sizeof kBitmapFileName > sizeof folder) {
        LogMessage(dialog, GetLastError(), "No temporary folder for %s.", kBitmapFileName);
        std::fclose(text);
        return 0;
    }
    std::snprintf(TransferFile.bitmapPath, sizeof TransferFile.bitmapPath, "%s%s", folder, kBitmapFileName);
    std::snprintf(TransferFile.name, sizeof TransferFile.name, "%s", kBitmapFileName);
    FILE* image = std::fopen(TransferFile.bitmapPath, "wb");
    if (image == nullptr) {
        LogMessage(dialog, 0, "Could not create %s: %s", TransferFile.bitmapPath, std::strerror(errno));
        std::fclose(text);
        return 0;
    }
    const BitmapConversion conversion = ConvertBitmapText(text, image);
    const bool closed = std::fclose(image) == 0;
    std::fclose(text);
    if (!conversion.ok || !closed) {
        LogMessage(dialog, 0, "Could not convert bitmap file %s into %s.", chosen, TransferFile.bitmapPath);
        DeleteFileA(TransferFile.bitmapPath);
        return 0;
    }
    TransferFile.file = std::fopen(TransferFile.bitmapPath, "rb");
    if (TransferFile.file == nullptr) {
        LogMessage(dialog, 0, "Could not open %s: %s", TransferFile.bitmapPath, std::strerror(errno));
        return 0;
    }
    return 1;
}

// Codes 10 and 11: the next chunk, or the end of the send.
void SendNextChunk(HWND dialog) {
    if (TransferFile.file == nullptr || OpenDirection != Direction::Send) return;
    const int32_t remaining = TransferFile.count - BytesSent;
    size_t wanted = kFileChunkBytes;
    if (remaining < static_cast<int32_t>(wanted)) wanted = remaining > 0 ? static_cast<size_t>(remaining) : 0;
    uint8_t chunk[kFileChunkBytes];
    const size_t got = wanted > 0 ? std::fread(chunk, 1, wanted, TransferFile.file) : 0;
    if (got > 0) {
        RS232_SendPacket(RS232_CMD_FILE_SEND_DATA, chunk, static_cast<uint16_t>(got));
        BytesSent += static_cast<int32_t>(got);
        if (got > 1) AdvanceProgress(static_cast<unsigned>(got));
        return;
    }
    if (remaining > 0) {
        AbandonTransfer(dialog, "Could not read %s: it ended after %ld of %ld bytes.", TransferFile.name,
                        static_cast<long>(BytesSent), static_cast<long>(TransferFile.count));
        return;
    }
    RS232_SendPacket(RS232_CMD_FILE_SEND_END, kAcknowledge, kAcknowledgeLength);
}

// Code 12: the unit's sum of what it received.
void CompareEchoedSum(HWND dialog, const PacketRecord* record) {
    TransferActive = 0;
    uint16_t echoed = 0;
    const bool verified =
        ParseEchoedSum(record->payload, record->length, &echoed) && echoed == TransferFile.sum;
    RestoreButtonCaption();
    MessageBeep(kDefaultBeep);
    if (verified) {
        ReportSessionResult(dialog, ReportOperation::SendVerified, kTransferCompleteText);
    } else {
        ReportSessionResult(dialog, ReportOperation::Failure, kTransferErrorText);
    }
    DestroyProgressBar();
}

// Code 13: the unit reports an error, or halts the transfer.
void HandleUnitError(HWND dialog, const PacketRecord* record) {
    TransferFile.Close();
    OpenDirection = Direction::None;
    LogMessage(dialog, 0, "%s", FileErrorText(TransferKind));
    DestroyProgressBar();
    if (TransferActive) {
        TransferActive = 0;
        LinkState = LINK_IDLE;
        LogMessage(dialog, 0, "%s", FileHaltText(TransferKind));
        if (KindLogsUnitText(TransferKind)) AppendLogLine(dialog, PayloadText(record).c_str());
        MessageBeep(kDefaultBeep);
    }
    RestoreButtonCaption();
    MessageBeep(kDefaultBeep);
    ReportSessionResult(dialog, ReportOperation::Failure, kTransferErrorText);
}

// Code 20: the size of the file that follows.
void StartReceiving(HWND dialog, const PacketRecord* record) {
    const std::string text = PayloadText(record);
    const int32_t size = ParseDecimalText(text.c_str());
    Received.Announce(size);
    CreateProgressBar(dialog, size > 0 ? static_cast<unsigned>(size) : 0u, ProgressRange::Range32);
    RS232_SendPacket(RS232_CMD_FILE_GET_DATA, kAcknowledge, kAcknowledgeLength);
}

// Code 21: bytes of the file.
void StoreChunk(HWND dialog, const PacketRecord* record) {
    if (TransferFile.file == nullptr || OpenDirection != Direction::Receive) return;
    const size_t count = PayloadCount(record);
    if (!Received.Fits(count)) {
        AbandonTransfer(dialog, "The unit sent more than the %lld bytes it announced; %s is incomplete.",
                        static_cast<long long>(Received.announced()), TransferFile.name);
        return;
    }
    if (count > 0 && std::fwrite(record->payload, 1, count, TransferFile.file) != count) {
        AbandonTransfer(dialog, "Could not write %s: %s", TransferFile.name, std::strerror(errno));
        return;
    }
    Received.Add(count);
    const std::string kindText = std::to_string(TransferKind);
    RS232_SendPacket(RS232_CMD_FILE_GET_DATA, kindText.data(), static_cast<uint16_t>(kindText.size()));
    if (count > 1) AdvanceProgress(static_cast<unsigned>(count));
}

// Code 22: the unit has sent everything. Only a receive that got exactly the announced bytes
// and was saved in full replaces the chosen file; anything else, a 22 with no receive open
// included, is the receive's failure, never its success.
void FinishReceiving(HWND dialog) {
    char reason[kReasonSize] = {};
    DWORD saveError = ERROR_SUCCESS;
    const bool receiving = TransferFile.file != nullptr && OpenDirection == Direction::Receive;
    if (receiving && !Received.Complete()) {
        std::snprintf(reason, sizeof reason,
                      "Received %lld of the %lld bytes the unit announced; %s is incomplete.",
                      static_cast<long long>(Received.written()),
                      static_cast<long long>(Received.announced()), TransferFile.name);
    } else if (receiving) {
        saveError = TransferFile.Commit();
        if (saveError != ERROR_SUCCESS) {
            std::snprintf(reason, sizeof reason, "Could not save %s.", TransferFile.name);
        }
    }
    TransferFile.Close();
    OpenDirection = Direction::None;
    TransferActive = 0;
    DestroyProgressBar();
    RestoreButtonCaption();
    MessageBeep(kDefaultBeep);
    if (reason[0] != 0) LogMessage(dialog, saveError, "%s", reason);
    if (receiving && reason[0] == 0) {
        ReportSessionResult(dialog, ReportOperation::ReceiveComplete, kTransferCompleteText);
    } else {
        ReportSessionResult(dialog, ReportOperation::Failure, kTransferErrorText);
    }
}

}  // namespace

int ComputeSumAndCount() {
    const StreamSum total = SumFileBytes(TransferFile.file);
    TransferFile.sum = total.sum;
    TransferFile.count = total.count;
    return total.ok ? 1 : 0;
}

void SendOpeningPacket(HWND) {
    const std::string text = FormatOpeningText(TransferKind, TransferFile.sum, TransferFile.count);
    RS232_SendPacket(RS232_CMD_FILE_SEND, text.data(), static_cast<uint16_t>(text.size()));
}

int SendTransferFile(HWND dialog, int commandId, const char* logText) {
    TransferKind = SendKindForCommand(commandId);
    TransferFile.Close();
    OpenDirection = Direction::None;
    if (TransferKind == KIND_BITMAP) {
        if (!PrepareBitmap(dialog)) return 0;
    } else {
        if (!ChooseOpenFile(dialog, TransferFile.name, sizeof TransferFile.name, kFileFilter)) return 0;
        TransferFile.file = std::fopen(TransferFile.name, "rb");
        if (TransferFile.file == nullptr) {
            LogMessage(dialog, 0, "Could not open %s: %s", TransferFile.name, std::strerror(errno));
            return 0;
        }
    }
    OpenDirection = Direction::Send;
    if (!ComputeSumAndCount()) {
        LogMessage(dialog, 0, "Could not read %s.", TransferFile.name);
        TransferFile.Close();
        OpenDirection = Direction::None;
        return 0;
    }
    BytesSent = 0;
    CreateProgressBar(dialog, static_cast<unsigned>(TransferFile.count), ProgressRange::Range32);
    LogMessage(dialog, 0, "%s", logText);
    BeginTransferSession(dialog, commandId, SESSION_SEND_FILE, FileResultReporter());
    SendOpeningPacket(dialog);
    return 1;
}

int ReceiveTransferFile(HWND dialog, int commandId, const char* logText) {
    TransferKind = ReceiveKindForCommand(commandId);
    TransferFile.Close();
    OpenDirection = Direction::None;
    if (!ChooseSaveFile(dialog, TransferFile.name, sizeof TransferFile.name, kFileFilter)) return 0;
    return BeginFileReceive(dialog, commandId, logText);
}

int BeginFileReceive(HWND dialog, int commandId, const char* logText) {
    if (!TransferFile.OpenForReceive("wb")) {
        LogMessage(dialog, GetLastError(), "Could not create a file beside %s.", TransferFile.name);
        return 0;
    }
    OpenDirection = Direction::Receive;
    Received.Start();
    BeginTransferSession(dialog, commandId, SESSION_RECEIVE_FILE, FileResultReporter());
    LogMessage(dialog, 0, "%s", logText);
    const std::string request =
        FormatReceiveRequest(TransferKind, KindCarriesProgramName(TransferKind) ? ProgramName : nullptr);
    RS232_SendPacket(RS232_CMD_FILE_GET, request.data(), static_cast<uint16_t>(request.size()));
    return 1;
}

void StopFileTransfer(HWND dialog) {
    TransferFile.Close();
    OpenDirection = Direction::None;
    TransferActive = 0;
    LinkState.store(LINK_IDLE);  // nothing is resent; the unit's late packets find no file
    DestroyProgressBar();
    RestoreButtonCaption();
    LogMessage(dialog, 0, "%s", FileHaltText(TransferKind));
    MessageBeep(kDefaultBeep);
}

void HandleFilePacket(HWND dialog, PacketRecord* record) {
    switch (record->command) {
        case RS232_CMD_FILE_SEND:
        case RS232_CMD_FILE_SEND_DATA: SendNextChunk(dialog); break;
        case RS232_CMD_FILE_SEND_END: CompareEchoedSum(dialog, record); break;
        case RS232_CMD_FILE_ERROR: HandleUnitError(dialog, record); break;
        case RS232_CMD_FILE_GET: StartReceiving(dialog, record); break;
        case RS232_CMD_FILE_GET_DATA: StoreChunk(dialog, record); break;
        case RS232_CMD_FILE_GET_END: FinishReceiving(dialog); break;
        default: break;
    }
}
