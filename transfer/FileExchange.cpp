// Settings, program and bitmap files sent to the unit in chunks of 128 bytes and checked by
// the unit's echo of the byte sum; settings and program files received as the unit sends
// them. A send never goes past the bytes it announced, a receive never past the size the
// unit announced, and a local read or write failure ends the transfer with its failure text.
#include "transfer/FileExchange.h"

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "transfer/BitmapText.h"
#include "common/ErrnoText.h"
#include "transfer/DecimalText.h"

namespace transfer {

namespace {
constexpr char kAcknowledge[] = "1";  // the payload of 12 (end of send) and of the first 21
constexpr uint16_t kAcknowledgeLength = 1;
constexpr char kReadText[] = "r";  // a bitmap's listing, in text mode
}  // namespace

using common::NoticeKind;

FileExchange::FileExchange(TransferSession& session, TransferListener& events, TransferFiles& files)
    : session_(session), events_(events), file_(files) {}

void FileExchange::Prepare(Operation operation) {
    kind_ = KindOf(operation);
    Close();
}

void FileExchange::Close() {
    file_.Close();
    direction_ = Direction::None;
}

// Ends a session on a local problem: the reason in the log, then the kind's failure text.
void FileExchange::Abandon(const std::string& reason) {
    const bool wasActive = session_.Active();
    Close();
    events_.Log(reason, {});
    session_.End();
    events_.Notice(NoticeKind::Alert, std::string());
    const std::string text = Report(ReportOperation::Failure, kTransferErrorText);
    session_.Ended(wasActive, SessionResult::Failed, text);
}

// Builds the bitmap image in memory and holds it as the file to send; false when the text
// could not be read or gives no image that can be sent.
bool FileExchange::PrepareBitmap(const std::string& textPath) {
    FILE* text = std::fopen(textPath.c_str(), kReadText);
    if (text == nullptr) {
        events_.Log(Format("Could not open bitmap file %s: %s", textPath.c_str(), common::ErrnoText(errno).c_str()),
                    {});
        return false;
    }
    std::vector<uint8_t> image;
    const BitmapConversion conversion = ConvertBitmapText(text, image);
    const int readError = errno;
    std::fclose(text);
    if (conversion == BitmapConversion::TooLarge) {
        events_.Log(Format("Could not convert bitmap file %s: its image would pass %lu bytes.", textPath.c_str(),
                           static_cast<unsigned long>(kMaxBitmapImageBytes)),
                    {});
        return false;
    }
    if (conversion != BitmapConversion::Done) {
        events_.Log(Format("Could not read bitmap file %s: %s", textPath.c_str(), common::ErrnoText(readError).c_str()),
                    {});
        return false;
    }
    file_.OpenImage(textPath, std::move(image));
    return true;
}

bool FileExchange::StartSend(const TransferRequest& request) {
    const std::string& path = request.file;
    Prepare(request.operation);
    if (kind_ == TransferKind::KIND_BITMAP) {
        if (!PrepareBitmap(path)) return false;
    } else if (!file_.OpenToRead(path)) {
        events_.Log(Format("Could not open %s: %s", path.c_str(), common::ErrnoText(errno).c_str()), {});
        return false;
    }
    direction_ = Direction::Send;
    const StreamSum total = file_.SumBytes();
    if (!total.ok) {
        events_.Log(Format("Could not read %s.", file_.Name().c_str()), {});
        Close();
        return false;
    }
    sum_ = total.sum;
    count_ = total.count;
    bytesSent_ = 0;
    session_.StartProgress(static_cast<uint32_t>(count_));
    events_.Log(StartLogText(request.operation), {});
    session_.Begin(request.operation, Reporter::File);
    const std::string opening = FormatOpeningText(kind_, sum_, count_);
    session_.Send(CommandCode::RS232_CMD_FILE_SEND, opening.data(), static_cast<uint16_t>(opening.size()));
    return true;
}

bool FileExchange::StartReceive(const TransferRequest& request) {
    const std::string& path = request.file;
    Prepare(request.operation);
    std::error_code error;
    if (!file_.OpenForReceive(path, &error)) {
        events_.Log(Format("Could not create a file beside %s.", path.c_str()), error);
        return false;
    }
    direction_ = Direction::Receive;
    received_.Start();
    session_.Begin(request.operation, Reporter::File);
    events_.Log(StartLogText(request.operation), {});
    const std::string opening =
        FormatReceiveRequest(kind_, KindCarriesProgramName(kind_) ? request.programName.c_str() : nullptr);
    session_.Send(CommandCode::RS232_CMD_FILE_GET, opening.data(), static_cast<uint16_t>(opening.size()));
    return true;
}

void FileExchange::Stop() {
    const bool wasActive = session_.Active();
    Close();
    session_.Deactivate();
    session_.IdleLink();  // nothing is resent; the unit's late packets find no file
    session_.EndProgress();
    session_.ReleaseStop();
    events_.Log(FileHaltText(kind_), {});
    events_.Notice(NoticeKind::Alert, std::string());
    session_.Ended(wasActive, SessionResult::Stopped, std::string());
}

// Codes 10 and 11: the next chunk, or the end of the send.
void FileExchange::SendNextChunk() {
    if (!file_.IsOpen() || direction_ != Direction::Send) return;
    const int32_t remaining = count_ - bytesSent_;
    size_t wanted = kFileChunkBytes;
    if (remaining < static_cast<int32_t>(wanted)) wanted = remaining > 0 ? static_cast<size_t>(remaining) : 0;
    uint8_t chunk[kFileChunkBytes];
    const size_t got = wanted > 0 ? file_.Read(chunk, wanted) : 0;
    if (got > 0) {
        session_.Send(CommandCode::RS232_CMD_FILE_SEND_DATA, chunk, static_cast<uint16_t>(got));
        bytesSent_ += static_cast<int32_t>(got);
        if (got > 1) session_.AdvanceProgress(static_cast<uint32_t>(got));
        return;
    }
    if (remaining > 0) {
        Abandon(Format("Could not read %s: it ended after %ld of %ld bytes.", file_.Name().c_str(),
                       static_cast<long>(bytesSent_), static_cast<long>(count_)));
        return;
    }
    session_.Send(CommandCode::RS232_CMD_FILE_SEND_END, kAcknowledge, kAcknowledgeLength);
}

// Code 12: the unit's sum of what it received.
void FileExchange::CompareSum(const PacketRecord& record) {
    const bool wasActive = session_.Active();
    session_.Deactivate();
    uint16_t echoed = 0;
    const bool verified = ParseEchoedSum(record.payload, record.length, &echoed) && echoed == sum_;
    session_.ReleaseStop();
    events_.Notice(NoticeKind::Alert, std::string());
    const std::string text = verified ? Report(ReportOperation::SendVerified, kTransferCompleteText)
                                      : Report(ReportOperation::Failure, kTransferErrorText);
    session_.EndProgress();
    session_.Ended(wasActive, verified ? SessionResult::Completed : SessionResult::Failed, text);
}

// Code 13: the unit reports an error, or halts the transfer.
void FileExchange::HandleError(const PacketRecord& record) {
    const bool wasActive = session_.Active();
    const std::string unitText = PayloadText(record);
    Close();
    events_.Log(FileErrorText(kind_), {});
    session_.EndProgress();
    if (wasActive) {
        session_.Deactivate();
        session_.IdleLink();
        events_.Log(FileHaltText(kind_), {});
        if (KindLogsUnitText(kind_)) events_.AppendLine(unitText);
        events_.Notice(NoticeKind::Alert, std::string());
    }
    session_.ReleaseStop();
    events_.Notice(NoticeKind::Alert, std::string());
    const std::string text = Report(ReportOperation::Failure, kTransferErrorText);
    session_.Ended(wasActive, SessionResult::UnitError, text, unitText);
}

// Code 20: the size of the file that follows.
void FileExchange::StartReceiving(const PacketRecord& record) {
    const int32_t size = ParseDecimalText(PayloadText(record).c_str());
    received_.Announce(size);
    session_.StartProgress(size > 0 ? static_cast<uint32_t>(size) : 0u);
    session_.Send(CommandCode::RS232_CMD_FILE_GET_DATA, kAcknowledge, kAcknowledgeLength);
}

// Code 21: bytes of the file.
void FileExchange::StoreChunk(const PacketRecord& record) {
    if (!file_.HasFile() || direction_ != Direction::Receive) return;
    const size_t count = PayloadCount(record);
    if (!received_.Fits(count)) {
        Abandon(Format("The unit sent more than the %lld bytes it announced; %s is incomplete.",
                       static_cast<long long>(received_.announced()), file_.Name().c_str()));
        return;
    }
    if (count > 0 && !file_.Write(record.payload, count)) {
        Abandon(Format("Could not write %s: %s", file_.Name().c_str(), common::ErrnoText(errno).c_str()));
        return;
    }
    received_.Add(count);
    const std::string kindText = std::to_string(static_cast<int32_t>(kind_));
    session_.Send(CommandCode::RS232_CMD_FILE_GET_DATA, kindText.data(), static_cast<uint16_t>(kindText.size()));
    if (count > 1) session_.AdvanceProgress(static_cast<uint32_t>(count));
}

// Code 22: the unit has sent everything. Only a receive that got exactly the announced bytes
// and was saved in full replaces the chosen file; anything else, a 22 with no receive open
// included, is the receive's failure, never its success.
void FileExchange::FinishReceiving() {
    const bool wasActive = session_.Active();
    std::string reason;
    std::error_code saveError;
    const bool receiving = file_.HasFile() && direction_ == Direction::Receive;
    if (receiving && !received_.Complete()) {
        reason = Format("Received %lld of the %lld bytes the unit announced; %s is incomplete.",
                        static_cast<long long>(received_.written()), static_cast<long long>(received_.announced()),
                        file_.Name().c_str());
    } else if (receiving) {
        saveError = file_.Commit();
        if (saveError) reason = Format("Could not save %s.", file_.Name().c_str());
    }
    Close();
    session_.Deactivate();
    session_.EndProgress();
    session_.ReleaseStop();
    events_.Notice(NoticeKind::Alert, std::string());
    if (!reason.empty()) events_.Log(reason, saveError);
    const bool saved = receiving && reason.empty();
    const std::string text = saved ? Report(ReportOperation::ReceiveComplete, kTransferCompleteText)
                                   : Report(ReportOperation::Failure, kTransferErrorText);
    session_.Ended(wasActive, saved ? SessionResult::Completed : SessionResult::Failed, text);
}

void FileExchange::HandlePacket(const PacketRecord& record) {
    switch (static_cast<CommandCode>(record.command)) {
        case CommandCode::RS232_CMD_FILE_SEND:
        case CommandCode::RS232_CMD_FILE_SEND_DATA: SendNextChunk(); break;
        case CommandCode::RS232_CMD_FILE_SEND_END: CompareSum(record); break;
        case CommandCode::RS232_CMD_FILE_ERROR: HandleError(record); break;
        case CommandCode::RS232_CMD_FILE_GET: StartReceiving(record); break;
        case CommandCode::RS232_CMD_FILE_GET_DATA: StoreChunk(record); break;
        case CommandCode::RS232_CMD_FILE_GET_END: FinishReceiving(); break;
        default: break;
    }
}

}  // namespace transfer
