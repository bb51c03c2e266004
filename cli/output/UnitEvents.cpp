// Event names, as the JSON records spell them.
#include "cli/output/UnitEvents.h"

namespace cli {

const char* EventKindName(EventKind kind) {
    switch (kind) {
        case EventKind::Waiting: return "waiting";
        case EventKind::Start: return "start";
        case EventKind::Progress: return "progress";
        case EventKind::Done: return "done";
        case EventKind::Failed: return "failed";
        case EventKind::Log: return "log";
        case EventKind::Step: return "step";
    }
    return "unknown";
}

}  // namespace cli
