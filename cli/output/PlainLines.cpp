// Plain lines for each unit's steps (see PlainLines.h).
#include "cli/output/PlainLines.h"

namespace cli {

void PlainLines::OnEvent(const UnitEvent& event, uint64_t) {
    if (event.kind == EventKind::Progress || event.unit >= ports_.size()) return;
    if (event.kind == EventKind::Step && event.text.empty()) return;  // told by the event that follows
    out_ << ports_[event.unit] << ": ";
    if (event.kind == EventKind::Done) out_ << "done: ";
    if (event.kind == EventKind::Failed) out_ << "FAILED: ";
    out_ << event.text << std::endl;
}

}  // namespace cli
