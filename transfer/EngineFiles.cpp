// Settings, program and bitmap files sent to the unit in chunks of 128 bytes and checked by
// the unit's echo of the byte sum; settings and program files received as the unit sends
// them. A send never goes past the bytes it announced, a receive never past the size the
// unit announced, and a local read or write failure ends the transfer with its failure text.
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "transfer/BitmapText.h"
#include "transfer/CommandCodes.h"
#include "transfer/DecimalText.h"
#include "transfer/EngineState.h"

namespace transfer {

using namespace packetlink;

namespace {
constexpr char kAcknowledge[] = "1";  // the payload of 12 (end of send) and of the first 21
constexpr uint16_t kAcknowledgeLength = 1;
}  // namespace

void TransferEngine::Impl::Prepare(Operation operation) {
    if (FamilyOf(operation) == SessionFamily::Nlec) {
        nlecFile.Close(files);
        return;
    }
    transferKind = KindOf(operation);
    transferFile.Close(files);
    direction = Direction::None;
}

// Ends a session on a local problem: the reason in the log, then the kind's failure text.
void TransferEngine::Impl::AbandonTransfer(const std::string& reason) {
    const bool wasActive = active;
    transferFile.Close(files);
    direction = Direction::None;
    ui.Log(reason, {});
    EndSession();
    ui.Beep();
    const std::string text = Report(ReportOperation::Failure, kTransferErrorText);
    Ended(wasActive, SessionResult::Failed, text);
}

// Builds the bitmap image in memory and holds it as the file to send; false when the text
// could not be read or gives no image that can be sent.
bool TransferEngine::Impl::PrepareBitmap(const std::string& textPath) {
    FILE* text = std::fopen(textPath.c_str(), "r");
    if (text == nullptr) {
        ui.Log(Format("Could not open bitmap file %s: %s", textPath.c_str(), std::strerror(errno)), {});
        return false;
    }
    std::vector<uint8_t> image;
    const BitmapConversion conversion = ConvertBitmapText(text, image);
    const int readError = errno;
    std::fclose(text);
    if (conversion == BitmapConversion::TooLarge) {
        ui.Log(Format("Could not convert bitmap file %s: its image would pass %lu bytes.", textPath.c_str(),
                      static_cast<unsigned long>(kMaxBitmapImageBytes)),
               {});
        return false;
    }
    if (conversion != BitmapConversion::Done) {
        ui.Log(Format("Could not read bitmap file %s: %s", textPath.c_str(), std::strerror(readError)), {});
        return false;
    }
    transferFile.name = textPath;
    transferFile.OpenImage(std::move(image));
    return true;
}

bool TransferEngine::Impl::StartFileSend(const TransferRequest& request) {
    const std::string& path = request.file;
    Prepare(request.operation);
    if (transferKind == KIND_BITMAP) {
        if (!PrepareBitmap(path)) return false;
    } else {
        transferFile.name = path;
        transferFile.file = std::fopen(path.c_str(), "rb");
        if (transferFile.file == nullptr) {
            ui.Log(Format("Could not open %s: %s", path.c_str(), std::strerror(errno)), {});
            return false;
        }
    }
    direction = Direction::Send;
    const StreamSum total = transferFile.SumSource();
    if (!total.ok) {
        ui.Log(Format("Could not read %s.", transferFile.name.c_str()), {});
        transferFile.Close(files);
        direction = Direction::None;
        return false;
    }
    transferFile.sum = total.sum;
    transferFile.count = total.count;
    bytesSent = 0;
    ui.ProgressStart(static_cast<uint32_t>(transferFile.count), ProgressScale::Range32);
    ui.Log(StartLogText(request.operation), {});
    BeginSession(request.operation, Reporter::File);
    const std::string opening = FormatOpeningText(transferKind, transferFile.sum, transferFile.count);
    Send(RS232_CMD_FILE_SEND, opening.data(), static_cast<uint16_t>(opening.size()));
    return true;
}

bool TransferEngine::Impl::StartFileReceive(const TransferRequest& request) {
    const std::string& path = request.file;
    Prepare(request.operation);
    transferFile.name = path;
    std::error_code error;
    if (!transferFile.OpenForReceive(files, "wb", &error)) {
        ui.Log(Format("Could not create a file beside %s.", path.c_str()), error);
        return false;
    }
    direction = Direction::Receive;
    received.Start();
    BeginSession(request.operation, Reporter::File);
    ui.Log(StartLogText(request.operation), {});
    const std::string opening =
        FormatReceiveRequest(transferKind,
                             KindCarriesProgramName(transferKind) ? request.programName.c_str() : nullptr);
    Send(RS232_CMD_FILE_GET, opening.data(), static_cast<uint16_t>(opening.size()));
    return true;
}

void TransferEngine::Impl::StopFile() {
    const bool wasActive = active;
    transferFile.Close(files);
    direction = Direction::None;
    active = false;
    linkState.store(LinkState::Idle);  // nothing is resent; the unit's late packets find no file
    ui.ProgressEnd();
    ReleaseStop();
    ui.Log(FileHaltText(transferKind), {});
    ui.Beep();
    Ended(wasActive, SessionResult::Stopped, std::string());
}

// Codes 10 and 11: the next chunk, or the end of the send.
void TransferEngine::Impl::SendNextChunk() {
    if (!transferFile.IsOpen() || direction != Direction::Send) return;
    const int32_t remaining = transferFile.count - bytesSent;
    size_t wanted = kFileChunkBytes;
    if (remaining < static_cast<int32_t>(wanted)) wanted = remaining > 0 ? static_cast<size_t>(remaining) : 0;
    uint8_t chunk[kFileChunkBytes];
    const size_t got = wanted > 0 ? transferFile.Read(chunk, wanted) : 0;
    if (got > 0) {
        Send(RS232_CMD_FILE_SEND_DATA, chunk, static_cast<uint16_t>(got));
        bytesSent += static_cast<int32_t>(got);
        if (got > 1) ui.ProgressAdvance(static_cast<uint32_t>(got));
        return;
    }
    if (remaining > 0) {
        AbandonTransfer(Format("Could not read %s: it ended after %ld of %ld bytes.", transferFile.name.c_str(),
                               static_cast<long>(bytesSent), static_cast<long>(transferFile.count)));
        return;
    }
    Send(RS232_CMD_FILE_SEND_END, kAcknowledge, kAcknowledgeLength);
}

// Code 12: the unit's sum of what it received.
void TransferEngine::Impl::CompareFileSum(const PacketRecord& record) {
    const bool wasActive = active;
    active = false;
    uint16_t echoed = 0;
    const bool verified = ParseEchoedSum(record.payload, record.length, &echoed) && echoed == transferFile.sum;
    ReleaseStop();
    ui.Beep();
    const std::string text = verified ? Report(ReportOperation::SendVerified, kTransferCompleteText)
                                      : Report(ReportOperation::Failure, kTransferErrorText);
    ui.ProgressEnd();
    Ended(wasActive, verified ? SessionResult::Completed : SessionResult::Failed, text);
}

// Code 13: the unit reports an error, or halts the transfer.
void TransferEngine::Impl::HandleFileError(const PacketRecord& record) {
    const bool wasActive = active;
    const std::string unitText = PayloadText(record);
    transferFile.Close(files);
    direction = Direction::None;
    ui.Log(FileErrorText(transferKind), {});
    ui.ProgressEnd();
    if (active) {
        active = false;
        linkState.store(LinkState::Idle);
        ui.Log(FileHaltText(transferKind), {});
        if (KindLogsUnitText(transferKind)) ui.AppendLine(unitText);
        ui.Beep();
    }
    ReleaseStop();
    ui.Beep();
    const std::string text = Report(ReportOperation::Failure, kTransferErrorText);
    Ended(wasActive, SessionResult::UnitError, text, unitText);
}

// Code 20: the size of the file that follows.
void TransferEngine::Impl::StartReceiving(const PacketRecord& record) {
    const int32_t size = ParseDecimalText(PayloadText(record).c_str());
    received.Announce(size);
    ui.ProgressStart(size > 0 ? static_cast<uint32_t>(size) : 0u, ProgressScale::Range32);
    Send(RS232_CMD_FILE_GET_DATA, kAcknowledge, kAcknowledgeLength);
}

// Code 21: bytes of the file.
void TransferEngine::Impl::StoreChunk(const PacketRecord& record) {
    if (transferFile.file == nullptr || direction != Direction::Receive) return;
    const size_t count = PayloadCount(record);
    if (!received.Fits(count)) {
        AbandonTransfer(Format("The unit sent more than the %lld bytes it announced; %s is incomplete.",
                               static_cast<long long>(received.announced()), transferFile.name.c_str()));
        return;
    }
    if (count > 0 && std::fwrite(record.payload, 1, count, transferFile.file) != count) {
        AbandonTransfer(Format("Could not write %s: %s", transferFile.name.c_str(), std::strerror(errno)));
        return;
    }
    received.Add(count);
    const std::string kindText = std::to_string(transferKind);
    Send(RS232_CMD_FILE_GET_DATA, kindText.data(), static_cast<uint16_t>(kindText.size()));
    if (count > 1) ui.ProgressAdvance(static_cast<uint32_t>(count));
}

// Code 22: the unit has sent everything. Only a receive that got exactly the announced bytes
// and was saved in full replaces the chosen file; anything else, a 22 with no receive open
// included, is the receive's failure, never its success.
void TransferEngine::Impl::FinishReceiving() {
    const bool wasActive = active;
    std::string reason;
    std::error_code saveError;
    const bool receiving = transferFile.file != nullptr && direction == Direction::Receive;
    if (receiving && !received.Complete()) {
        reason = Format("Received %lld of the %lld bytes the unit announced; %s is incomplete.",
                        static_cast<long long>(received.written()), static_cast<long long>(received.announced()),
                        transferFile.name.c_str());
    } else if (receiving) {
        saveError = transferFile.Commit(files);
        if (saveError) reason = Format("Could not save %s.", transferFile.name.c_str());
    }
    transferFile.Close(files);
    direction = Direction::None;
    active = false;
    ui.ProgressEnd();
    ReleaseStop();
    ui.Beep();
    if (!reason.empty()) ui.Log(reason, saveError);
    const bool saved = receiving && reason.empty();
    const std::string text = saved ? Report(ReportOperation::ReceiveComplete, kTransferCompleteText)
                                   : Report(ReportOperation::Failure, kTransferErrorText);
    Ended(wasActive, saved ? SessionResult::Completed : SessionResult::Failed, text);
}

void TransferEngine::Impl::HandleFilePacket(const PacketRecord& record) {
    switch (record.command) {
        case RS232_CMD_FILE_SEND:
        case RS232_CMD_FILE_SEND_DATA: SendNextChunk(); break;
        case RS232_CMD_FILE_SEND_END: CompareFileSum(record); break;
        case RS232_CMD_FILE_ERROR: HandleFileError(record); break;
        case RS232_CMD_FILE_GET: StartReceiving(record); break;
        case RS232_CMD_FILE_GET_DATA: StoreChunk(record); break;
        case RS232_CMD_FILE_GET_END: FinishReceiving(); break;
        default: break;
    }
}

}  // namespace transfer
