// Unit states from events, and the shared number formats (see UnitBoard.h).
#include "cli/output/UnitBoard.h"

#include <algorithm>

#include "board/Board.h"
#include "common/Clock.h"

namespace cli {

namespace {
using common::kMsPerSecond;
}  // namespace

UnitBoard::UnitBoard(const std::vector<std::string>& ports) {
    for (const std::string& port : ports) {
        UnitState unit;
        unit.port = port;
        units_.push_back(unit);
    }
}

void UnitBoard::Apply(const UnitEvent& event, uint64_t nowMs) {
    if (event.unit >= units_.size()) return;
    UnitState& unit = units_[event.unit];
    if (unit.phase == UnitPhase::Done || unit.phase == UnitPhase::Failed) return;  // an end is final
    if (event.kind == EventKind::Log || event.kind == EventKind::Step) return;     // the unit's state stays
    if (!event.text.empty()) unit.text = event.text;
    switch (event.kind) {
        case EventKind::Waiting: unit.phase = UnitPhase::Waiting; break;
        case EventKind::Start:
            unit.phase = UnitPhase::Running;
            unit.startMs = nowMs;
            unit.total = event.total;
            unit.bytes = 0;
            unit.baud = event.baud;
            break;
        case EventKind::Progress:
            unit.bytes = event.bytes;
            unit.total = event.total;
            break;
        case EventKind::Done:
        case EventKind::Failed:
            unit.phase = event.kind == EventKind::Done ? UnitPhase::Done : UnitPhase::Failed;
            unit.endMs = nowMs;
            if (event.total != 0) {
                unit.bytes = event.bytes;
                unit.total = event.total;
            }
            break;
        case EventKind::Log:
        case EventKind::Step: break;  // returned above
    }
}

bool UnitBoard::AnyFailed() const {
    return std::any_of(units_.begin(), units_.end(), [](const UnitState& u) { return u.phase != UnitPhase::Done; });
}

size_t UnitBoard::WidestPort() const {
    size_t widest = 0;
    for (const UnitState& unit : units_) widest = std::max(widest, unit.port.size());
    return widest;
}

uint64_t TakenBytes(const UnitState& unit, uint64_t nowMs) {
    const uint64_t end = unit.endMs != 0 ? unit.endMs : nowMs;
    return board::TakenBytes(unit.bytes, unit.baud, end > unit.startMs ? end - unit.startMs : 0);
}

double BytesPerSecond(const UnitState& unit, uint64_t nowMs) {
    uint64_t end = unit.endMs != 0 ? unit.endMs : nowMs;
    if (unit.phase == UnitPhase::Pending || unit.phase == UnitPhase::Waiting || end <= unit.startMs) return 0.0;
    return static_cast<double>(TakenBytes(unit, nowMs)) * kMsPerSecond / static_cast<double>(end - unit.startMs);
}

}  // namespace cli
