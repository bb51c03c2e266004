// The download's failure texts (see DownloadText.h).
#include "download/DownloadText.h"

namespace download {

namespace {

std::string After(const DownloadOutcome& outcome) {
    return " after " + std::to_string(outcome.bytesSent) + " of " + std::to_string(outcome.total) + " bytes";
}

}  // namespace

std::string PortFailureText(const serial::PortStatus& status) {
    std::string text = serial::PortErrorName(status.error);
    if (!status.text.empty() && status.text != text) text += " (" + status.text + ")";
    return text;
}

std::string GoneText(serial::PortKind kind) {
    return kind == serial::PortKind::Network ? "the port is gone (server or network lost?)"
                                             : "the port is gone (adapter unplugged?)";
}

std::string OutcomeText(const DownloadOutcome& outcome, serial::PortKind kind) {
    return OutcomeText(outcome, kind, "stopped by Ctrl-C");
}

std::string OutcomeText(const DownloadOutcome& outcome, serial::PortKind kind, const std::string& stoppedWords) {
    switch (outcome.result) {
        case DownloadResult::Done: return "";
        case DownloadResult::Stalled:
            return "the unit stopped reading: " + StallText(outcome.stallLimitMs) + After(outcome);
        case DownloadResult::PortGone:
            return GoneText(kind) + After(outcome) + ": " + PortFailureText(outcome.lastError) +
                   (outcome.bytesSent > 0 ? "; the unit holds part of the image: load it again" : "");
        case DownloadResult::Cancelled: return stoppedWords + After(outcome);
        case DownloadResult::UnitEnded:
            return "the unit ended the image after " + std::to_string(outcome.bytesSent) + " bytes: load it again";
    }
    return "unknown download result";
}

}  // namespace download
