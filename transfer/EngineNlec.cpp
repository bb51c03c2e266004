// NLEC text tables sent to and fetched from the unit, one text line per packet. The files are
// opened in binary mode on every system and their line ends translated by the line reader and
// writer alone (CR LF on disk, one newline on the wire). The send is checked by the unit's
// echo of the character sum; a fetch is written as it comes, and any failure to read or write
// the file ends the session with a message, never silently.
#include <cerrno>
#include <cstring>

#include "transfer/CommandCodes.h"
#include "transfer/DecimalText.h"
#include "transfer/EngineState.h"

namespace transfer {

using namespace packetlink;

namespace {
constexpr char kAcknowledge[] = "1";  // the payload of 7 (end of send), 16 and 17
constexpr uint16_t kAcknowledgeLength = 1;
constexpr char kNlecChecksumFailure[] = "Nlec Checksum Failure.";
constexpr char kCompletedFormat[] = "NLEC Transfer completed in %d seconds.";
}  // namespace

bool TransferEngine::Impl::StartNlecSend(const std::string& path) {
    nlecFile.Close(files);
    nlecFile.name = path;
    nlecFile.file = std::fopen(path.c_str(), "rb");
    if (nlecFile.file == nullptr) {
        ui.Log(Format("Could not open NLEC file %s: %s", path.c_str(), std::strerror(errno)), {});
        return false;
    }
    const StreamSum total = SumNlecLines(nlecFile.file);
    if (!total.ok) {
        ui.Log(Format("Could not read NLEC file %s.", path.c_str()), {});
        nlecFile.Close(files);
        return false;
    }
    nlecFile.sum = total.sum;
    nlecFile.count = total.count;
    // The 32-bit range, so that a file of more than 65 535 characters shows correctly.
    ui.ProgressStart(static_cast<uint32_t>(nlecFile.count), ProgressScale::Range32);
    BeginSession(Operation::SendNlec, Reporter::Nlec);
    ui.Log("Sending NLEC...", {});
    const std::string sumText = std::to_string(static_cast<unsigned>(nlecFile.sum));
    Send(RS232_CMD_NLEC_SEND, sumText.data(), static_cast<uint16_t>(sumText.size()));
    return true;
}

bool TransferEngine::Impl::StartNlecGet(const std::string& path) {
    nlecFile.Close(files);
    nlecFile.name = path;
    std::error_code error;
    if (!nlecFile.OpenForReceive(files, "wb", &error)) {
        ui.Log(Format("Could not create a file beside the NLEC file %s.", path.c_str()), error);
        return false;
    }
    BeginSession(Operation::GetNlec, Reporter::Nlec);
    ui.Log("Getting NLEC...", {});
    Send(RS232_CMD_NLEC_GET, kAcknowledge, kAcknowledgeLength);
    return true;
}

// The end of a session that shows its own text: flag, bar, stop released, then log, beep and report.
void TransferEngine::Impl::FinishNlecSession(const std::string& text, SessionResult result) {
    const bool wasActive = active;
    EndSession();
    ui.Log(text, {});
    ui.Beep();
    ui.Report(text);
    Ended(wasActive, result, text);
}

// A local file problem ends the transfer: the reason in the log, then the unit's error text
// in the box, so the operator never takes a partial table or send for a finished one.
void TransferEngine::Impl::AbandonNlecOnFileError(const char* what) {
    const int error = errno;
    AbandonNlec(Format("%s NLEC file %s: %s", what, nlecFile.name.c_str(), std::strerror(error)));
}

void TransferEngine::Impl::AbandonNlec(const std::string& reason) {
    nlecFile.Close(files);  // a fetch's temporary file goes; the chosen file stays
    ui.Log(reason, {});
    FinishNlecSession(kNlecTransferError, SessionResult::Failed);
}

// Codes 5 and 6: the next line, or the end of the send.
void TransferEngine::Impl::SendNextLine() {
    if (nlecFile.file == nullptr) return;
    char line[kNlecLineBuffer];
    const int length = ReadNlecLine(nlecFile.file, line);
    if (length >= 0) {
        Send(RS232_CMD_NLEC_SEND_LINE, line, static_cast<uint16_t>(length));
        if (length > 0) ui.ProgressAdvance(static_cast<uint32_t>(length));
        return;
    }
    if (std::ferror(nlecFile.file)) {
        AbandonNlecOnFileError("Could not read the");
        return;
    }
    Send(RS232_CMD_NLEC_SEND_END, kAcknowledge, kAcknowledgeLength);
    nlecFile.Close(files);
}

// Code 7: the unit's sum of what it received.
void TransferEngine::Impl::CompareNlecSum(const PacketRecord& record) {
    uint16_t echoed = 0;
    const bool matches = ParseEchoedSum(record.payload, record.length, &echoed) && echoed == nlecFile.sum;
    if (matches) {
        FinishNlecSession(Format(kCompletedFormat, static_cast<int>(SecondsSinceStart())), SessionResult::Completed);
    } else {
        FinishNlecSession(kNlecChecksumFailure, SessionResult::Failed);
    }
}

// Code 8: the unit gave up. The file is closed and the error logged in any case, so the
// operator sees what the unit reported; only a running session is halted, since a packet
// from the unit must never start anything.
void TransferEngine::Impl::HandleNlecError() {
    nlecFile.Close(files);
    ui.Log(kNlecTransferError, {});
    if (!active) return;
    ui.ProgressEnd();
    HaltNlec(SessionResult::UnitError);
}

// Code 16: the number of lines that follow sets the bar's range.
void TransferEngine::Impl::StartFetching(const PacketRecord& record) {
    const std::string text = PayloadText(record);
    const int32_t lines = ParseDecimalText(text.c_str());
    ui.ProgressStart(lines > 0 ? static_cast<uint32_t>(lines) : 0u, ProgressScale::Range32);
    Send(RS232_CMD_NLEC_GET_LINE, kAcknowledge, kAcknowledgeLength);
}

// Writes one fetched line and its newline; false on a write error.
bool TransferEngine::Impl::WriteFetchedLine(const PacketRecord& record) {
    return WriteNlecLine(nlecFile.file, PayloadText(record));
}

// Code 17: one line of the unit's table.
void TransferEngine::Impl::StoreLine(const PacketRecord& record) {
    if (nlecFile.file == nullptr) return;
    if (!WriteFetchedLine(record)) {
        AbandonNlecOnFileError("Could not write the");
        return;
    }
    Send(RS232_CMD_NLEC_GET_LINE, kAcknowledge, kAcknowledgeLength);
    ui.ProgressAdvance(1);
}

// Code 18: the last line; it is not acknowledged. The table replaces the chosen file only
// once all of it is written.
void TransferEngine::Impl::StoreLastLine(const PacketRecord& record) {
    if (nlecFile.file == nullptr) return;
    if (!WriteFetchedLine(record)) {
        AbandonNlecOnFileError("Could not write the");
        return;
    }
    const std::error_code saveError = nlecFile.Commit(files);
    if (saveError) {
        ui.Log(Format("Could not save the NLEC file %s.", nlecFile.name.c_str()), saveError);
        FinishNlecSession(kNlecTransferError, SessionResult::Failed);
        return;
    }
    FinishNlecSession(Format(kCompletedFormat, static_cast<int>(SecondsSinceStart())), SessionResult::Completed);
}

void TransferEngine::Impl::HandleNlecPacket(const PacketRecord& record) {
    switch (record.command) {
        case RS232_CMD_NLEC_SEND:
        case RS232_CMD_NLEC_SEND_LINE: SendNextLine(); break;
        case RS232_CMD_NLEC_SEND_END: CompareNlecSum(record); break;
        case RS232_CMD_NLEC_ERROR: HandleNlecError(); break;
        case RS232_CMD_NLEC_GET: StartFetching(record); break;
        case RS232_CMD_NLEC_GET_LINE: StoreLine(record); break;
        case RS232_CMD_NLEC_GET_LAST_LINE: StoreLastLine(record); break;
        default: break;
    }
}

}  // namespace transfer
