// Plain lines for each unit's steps (see PlainLines.h).
#include "cli/PlainLines.h"

namespace cli {

void PlainLines::OnEvent(const UnitEvent& event, uint64_t) {
    if (event.kind == EventKind::Progress || event.unit >= ports_.size()) return;
    out_ << ports_[event.unit] << ": ";
    if (event.kind == EventKind::Done) out_ << "done: ";
    if (event.kind == EventKind::Failed) out_ << "FAILED: ";
    out_ << event.text << std::endl;
}

}  // namespace cli
