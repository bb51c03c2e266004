// The failure sentences (see FailureTexts.h). Each kind has one pattern; a {name} in it is
// filled from the details, and only the pattern is read for names, never what fills them.
#include "cli/output/FailureTexts.h"

#include "common/Clock.h"
#include "download/DownloadText.h"
#include "download/EmbeddedImages.h"

namespace cli {

namespace {

const char* Pattern(Failure kind) {
    switch (kind) {
        case Failure::PortNotOpened: return "cannot open the port: {reason}";
        case Failure::PortGone: return "{gone}: {reason}";
        case Failure::CtsNotRead: return "cannot read CTS: {reason}";
        case Failure::NoCts:
            return "no CTS within {seconds}: the unit is not in its bootloader menu (hold C while switching it on)";
        case Failure::CtsWaitStopped: return "{stopped} while waiting for CTS";
        case Failure::SpeedNotSet: return "cannot switch to {baud} baud: {reason}";
        case Failure::RecordNotBegun: return "the records cannot be written ({words}): nothing was sent";
        case Failure::RecordNotCompleted: return "the records cannot be written: {words}";
        case Failure::EraseNotTaken: return "the port did not take the erase request within {seconds}: {reason}";
        case Failure::EraseNoReply: return "no answer from the unit within {seconds}";
        case Failure::EraseStopped: return "{stopped} while erasing";
        case Failure::RequestNotSent: return "the fixed request did not leave: {reason}";
        case Failure::TransferNotStarted: return "the transfer could not start";
        case Failure::TransferFailed: return "the transfer failed";
        case Failure::UnitSays: return "{words} The unit says: {more}";
        case Failure::TransferStopped: return "{stopped}";
        case Failure::UnitQuiet: return "the unit went quiet: nothing for {seconds} while the transfer waited";
        case Failure::UnknownResult: return "unknown {words} result";
        case Failure::WorkerNotStarted: return "cannot start a worker: {words}";
        case Failure::StationUnitFailed: return "unit {unit}: {words}";
        case Failure::StationWorkerNotStarted: return "a port's worker could not start";
        case Failure::LoadsFinishing: return "{words}; the loads under way finish";
        case Failure::ProbeBusy: return "busy: another program holds it";
        case Failure::ProbeNotOpened: return "cannot open: {kind} ({text})";
        case Failure::ProbeCtsNotRead: return "cannot read CTS: {kind} ({text})";
        case Failure::RecordsNotUsable: return "the records file cannot be used: {words}";
        case Failure::RecordsNotReadable: return "the records file cannot be read: {words}";
        case Failure::ServerUrlHasPassword:
            return "{name}: the password belongs in the passfile (~/.pgpass, or the file PGPASSFILE names), "
                   "never on the command line";
        case Failure::ForwardNeedsRecords: return "--forward needs --records FILE: the rows wait there for the server";
        case Failure::ServerRefuses: return "the records server {name} refuses the rows: {words}";
        case Failure::ServerNotRead: return "the records server {name} cannot be read: {words}";
        case Failure::RowsWaiting:
            return "{size} rows wait for {name}: `varnex records forward {words} {more}` sends them";
        case Failure::ImageNotCarried: return "this program carries no {name} image";
        case Failure::ImageNotOpened: return "{name}: {system}";
        case Failure::ImageEmpty: return "{name}: the file is empty";
        case Failure::ImageTooLarge: return "{name}: the file is too large for an image";
        case Failure::ImageWrongSize:
            return "{name}: {size} bytes is not the size of a bootloader ({bootloader}), 2-axis ({two-axis}) or "
                   "3-axis ({three-axis}) image; give --any-size to send it anyway";
        case Failure::ImageNotRead: return "{name}: the file could not be read whole";
    }
    return "unknown failure";
}

std::string Fill(const std::string& field, const FailureDetails& d) {
    if (field == "reason") return download::PortFailureText(d.status);
    if (field == "gone") return download::GoneText(d.portKind);
    if (field == "kind") return serial::PortErrorName(d.status.error);
    if (field == "text") return d.status.text;
    if (field == "system") return d.system.message();
    if (field == "seconds") return SecondsText(d.ms);
    if (field == "baud") return std::to_string(d.baud);
    if (field == "unit") return std::to_string(d.unit);
    if (field == "size") return std::to_string(d.size);
    if (field == "name") return d.name;
    if (field == "words") return d.words;
    if (field == "stopped") return StoppedWords(common::CurrentStopCause());
    if (field == "more") return d.more;
    if (field == "bootloader") return std::to_string(download::kBootloaderImage.size);
    if (field == "two-axis") return std::to_string(download::kSoftwareImage.size);
    if (field == "three-axis") return std::to_string(download::kThreeAxisImage.size);
    return "{" + field + "}";  // a pattern's own fault shows in the sentence and its test
}

}  // namespace

const char* StoppedWords(common::StopCause cause) {
    return cause == common::StopCause::Terminate ? "stopped" : "stopped by Ctrl-C";
}

std::string SecondsText(uint32_t ms) {
    return std::to_string((ms + common::kMsPerSecond - 1) / common::kMsPerSecond) + " s";
}

std::string FailureText(Failure kind, const FailureDetails& details) {
    const std::string pattern = Pattern(kind);
    std::string text;
    size_t at = 0;
    for (;;) {
        const size_t open = pattern.find('{', at);
        const size_t close = open == std::string::npos ? open : pattern.find('}', open);
        if (close == std::string::npos) return text + pattern.substr(at);
        text += pattern.substr(at, open - at);
        text += Fill(pattern.substr(open + 1, close - open - 1), details);
        at = close + 1;
    }
}

}  // namespace cli
