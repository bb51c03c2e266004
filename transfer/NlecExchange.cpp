// NLEC text tables sent to and fetched from the unit, one text line per packet. The files are
// opened in binary mode on every system and their line ends translated by the line reader and
// writer alone (CR LF on disk, one newline on the wire). The send is checked by the unit's
// echo of the character sum; a fetch is written as it comes, and any failure to read or write
// the file ends the session with a message, never silently.
#include "transfer/NlecExchange.h"

#include <cerrno>
#include <cstring>

#include "transfer/DecimalText.h"
#include "common/ErrnoText.h"
#include "transfer/TransferText.h"

namespace transfer {

namespace {
constexpr char kAcknowledge[] = "1";  // the payload of 7 (end of send), 16 and 17
constexpr uint16_t kAcknowledgeLength = 1;
constexpr char kNlecChecksumFailure[] = "Nlec Checksum Failure.";
constexpr char kCompletedFormat[] = "NLEC Transfer completed in %d seconds.";
constexpr char kHaltedText[] = "Nlec transfer halted.";
constexpr char kCouldNotRead[] = "Could not read the";
constexpr char kCouldNotWrite[] = "Could not write the";
}  // namespace

using common::NoticeKind;

NlecExchange::NlecExchange(TransferSession& session, TransferListener& events, TransferFiles& files)
    : session_(session), events_(events), file_(files) {}

bool NlecExchange::StartSend(const std::string& path) {
    if (!file_.OpenToRead(path)) {
        events_.Log(Format("Could not open NLEC file %s: %s", path.c_str(), common::ErrnoText(errno).c_str()), {});
        return false;
    }
    const StreamSum total = file_.SumLines();
    if (!total.ok) {
        events_.Log(Format("Could not read NLEC file %s.", path.c_str()), {});
        file_.Close();
        return false;
    }
    sum_ = total.sum;
    // The 32-bit range, so that a file of more than 65 535 characters shows correctly.
    session_.StartProgress(static_cast<uint32_t>(total.count));
    session_.Begin(Operation::SendNlec, Reporter::Nlec);
    events_.Log("Sending NLEC...", {});
    const std::string sumText = std::to_string(static_cast<unsigned>(sum_));
    session_.Send(CommandCode::RS232_CMD_NLEC_SEND, sumText.data(), static_cast<uint16_t>(sumText.size()));
    return true;
}

bool NlecExchange::StartGet(const std::string& path) {
    std::error_code error;
    if (!file_.OpenForReceive(path, &error)) {
        events_.Log(Format("Could not create a file beside the NLEC file %s.", path.c_str()), error);
        return false;
    }
    session_.Begin(Operation::GetNlec, Reporter::Nlec);
    events_.Log("Getting NLEC...", {});
    session_.Send(CommandCode::RS232_CMD_NLEC_GET, kAcknowledge, kAcknowledgeLength);
    return true;
}

void NlecExchange::Halt(SessionResult result) {
    const bool wasActive = session_.Active();
    file_.Close();
    session_.Deactivate();
    session_.IdleLink();  // no resend follows
    // The NLEC controls get their own captions back; a file session's stays armed, and its
    // file open, until that control is pressed or another session begins.
    const std::optional<Operation> operation = session_.CurrentOperation();
    if (operation && FamilyOf(*operation) == SessionFamily::Nlec) session_.ReleaseStop();
    events_.Log(kHaltedText, {});
    events_.Notice(NoticeKind::Alert, std::string());
    session_.EndProgress();
    session_.Ended(wasActive, result, std::string());
}

// The end of a session that shows its own text: flag, bar, stop released, then log, beep and report.
void NlecExchange::Finish(const std::string& text, SessionResult result) {
    const bool wasActive = session_.Active();
    session_.End();
    events_.Log(text, {});
    events_.Notice(NoticeKind::Alert, std::string());
    events_.Notice(NoticeKind::Outcome, text);
    session_.Ended(wasActive, result, text);
}

// A local file problem ends the transfer: the reason in the log, then the unit's error text
// in the box, so the operator never takes a partial table or send for a finished one.
void NlecExchange::AbandonOnFileError(const char* what) {
    const int error = errno;
    Abandon(Format("%s NLEC file %s: %s", what, file_.Name().c_str(), common::ErrnoText(error).c_str()));
}

void NlecExchange::Abandon(const std::string& reason) {
    file_.Close();  // a fetch's temporary file goes; the chosen file stays
    events_.Log(reason, {});
    Finish(kNlecTransferError, SessionResult::Failed);
}

// Codes 5 and 6: the next line, or the end of the send.
void NlecExchange::SendNextLine() {
    if (!file_.HasFile()) return;
    char line[kNlecLineBuffer];
    const int length = file_.ReadLine(line);
    if (length >= 0) {
        session_.Send(CommandCode::RS232_CMD_NLEC_SEND_LINE, line, static_cast<uint16_t>(length));
        if (length > 0) session_.AdvanceProgress(static_cast<uint32_t>(length));
        return;
    }
    if (file_.Failed()) {
        AbandonOnFileError(kCouldNotRead);
        return;
    }
    session_.Send(CommandCode::RS232_CMD_NLEC_SEND_END, kAcknowledge, kAcknowledgeLength);
    file_.Close();
}

// Code 7: the unit's sum of what it received.
void NlecExchange::CompareSum(const PacketRecord& record) {
    uint16_t echoed = 0;
    const bool matches = ParseEchoedSum(record.payload, record.length, &echoed) && echoed == sum_;
    if (matches) {
        Finish(Format(kCompletedFormat, static_cast<int>(session_.SecondsSinceStart())), SessionResult::Completed);
    } else {
        Finish(kNlecChecksumFailure, SessionResult::Failed);
    }
}

// Code 8: the unit gave up. The file is closed and the error logged in any case, so the
// operator sees what the unit reported; only a running session is halted, since a packet
// from the unit must never start anything.
void NlecExchange::HandleError() {
    file_.Close();
    events_.Log(kNlecTransferError, {});
    if (!session_.Active()) return;
    session_.EndProgress();
    Halt(SessionResult::UnitError);
}

// Code 16: the number of lines that follow sets the bar's range.
void NlecExchange::StartFetching(const PacketRecord& record) {
    const int32_t lines = ParseDecimalText(PayloadText(record).c_str());
    session_.StartProgress(lines > 0 ? static_cast<uint32_t>(lines) : 0u);
    session_.Send(CommandCode::RS232_CMD_NLEC_GET_LINE, kAcknowledge, kAcknowledgeLength);
}

// Code 17: one line of the unit's table.
void NlecExchange::StoreLine(const PacketRecord& record) {
    if (!file_.HasFile()) return;
    if (!file_.WriteLine(PayloadText(record))) {
        AbandonOnFileError(kCouldNotWrite);
        return;
    }
    session_.Send(CommandCode::RS232_CMD_NLEC_GET_LINE, kAcknowledge, kAcknowledgeLength);
    session_.AdvanceProgress(1);
}

// Code 18: the last line; it is not acknowledged. The table replaces the chosen file only
// once all of it is written.
void NlecExchange::StoreLastLine(const PacketRecord& record) {
    if (!file_.HasFile()) return;
    if (!file_.WriteLine(PayloadText(record))) {
        AbandonOnFileError(kCouldNotWrite);
        return;
    }
    const std::error_code saveError = file_.Commit();
    if (saveError) {
        events_.Log(Format("Could not save the NLEC file %s.", file_.Name().c_str()), saveError);
        Finish(kNlecTransferError, SessionResult::Failed);
        return;
    }
    Finish(Format(kCompletedFormat, static_cast<int>(session_.SecondsSinceStart())), SessionResult::Completed);
}

void NlecExchange::HandlePacket(const PacketRecord& record) {
    switch (static_cast<CommandCode>(record.command)) {
        case CommandCode::RS232_CMD_NLEC_SEND:
        case CommandCode::RS232_CMD_NLEC_SEND_LINE: SendNextLine(); break;
        case CommandCode::RS232_CMD_NLEC_SEND_END: CompareSum(record); break;
        case CommandCode::RS232_CMD_NLEC_ERROR: HandleError(); break;
        case CommandCode::RS232_CMD_NLEC_GET: StartFetching(record); break;
        case CommandCode::RS232_CMD_NLEC_GET_LINE: StoreLine(record); break;
        case CommandCode::RS232_CMD_NLEC_GET_LAST_LINE: StoreLastLine(record); break;
        default: break;
    }
}

}  // namespace transfer
