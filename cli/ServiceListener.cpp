// The transfer engine's output as varnex shows it (see ServiceListener.h).
#include "cli/ServiceListener.h"

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

// A report is logged, then shown in a box: the box adds nothing then. A box with no log line
// before it (the unit's flash-erase result, which may come in any session) is kept.
void ServiceListener::Report(const std::string& text) {
    if (text != lastLine_) Keep(text);
}

void ServiceListener::ProgressStart(uint32_t maximum, transfer::ProgressScale) {
    steps_ = 0;
    total_ = maximum;
    sink_.Report({EventKind::Start, unit_, 0, total_, "transferring"});
}

void ServiceListener::ProgressAdvance(uint32_t steps) {
    steps_ += steps;
    sink_.Report({EventKind::Progress, unit_, steps_, total_, ""});
}

void ServiceListener::SessionEnded(const transfer::SessionEnd& end) {
    // A report that belongs to no session (a stray packet's) is shown once, and ends nothing.
    if (end.kind == SESSION_NONE) {
        if (!end.text.empty() && end.text != lastLine_) Keep(end.text);
        return;
    }
    end_ = end;
}

}  // namespace cli
