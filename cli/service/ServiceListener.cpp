// The transfer engine's output as varnex shows it (see ServiceListener.h).
#include "cli/service/ServiceListener.h"

namespace cli {

void ServiceListener::Keep(const std::string& line) {
    lastLine_ = line;
    lastReason_ = line;
    sink_.Report({EventKind::Log, unit_, 0, 0, line});
}

void ServiceListener::Log(const std::string& line, std::error_code error) {
    Keep(line);
    if (!error) return;
    const std::string system = error.message();
    Keep(system);
    lastReason_ = line + " (" + system + ")";
}

void ServiceListener::AppendLine(const std::string& line) { Keep(line); }

// An outcome is logged, then shown in a box: the box adds nothing then. A box with no log line
// before it (the unit's flash-erase result, which may come in any session) is kept.
void ServiceListener::Notice(common::NoticeKind kind, const std::string& text) {
    if (kind == common::NoticeKind::Outcome && text != lastLine_) Keep(text);
}

void ServiceListener::ProgressStart(uint64_t total) {
    steps_ = 0;
    total_ = total;
    sink_.Report({EventKind::Start, unit_, 0, total_, "transferring"});
}

void ServiceListener::ProgressAdvance(uint64_t done) {
    steps_ = done;
    sink_.Report({EventKind::Progress, unit_, steps_, total_, ""});
}

void ServiceListener::SessionEnded(const transfer::SessionEnd& end) {
    // A report that belongs to no session (a stray packet's) is shown once, and ends nothing.
    if (end.kind == transfer::SessionKind::SESSION_NONE) {
        if (!end.text.empty() && end.text != lastLine_) Keep(end.text);
        return;
    }
    end_ = end;
}

}  // namespace cli
