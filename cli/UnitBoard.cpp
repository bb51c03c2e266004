// Unit states from events, and the shared number formats (see UnitBoard.h).
#include "cli/UnitBoard.h"

#include <algorithm>
#include <cstdio>

#include "common/Clock.h"

namespace cli {

namespace {
using common::kMsPerSecond;
constexpr uint64_t kSecondsPerMinute = 60;
constexpr uint64_t kSecondsPerHour = 3600;
constexpr double kBytesPerKilobyte = 1000.0;
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

double BytesPerSecond(const UnitState& unit, uint64_t nowMs) {
    uint64_t end = unit.endMs != 0 ? unit.endMs : nowMs;
    if (unit.phase == UnitPhase::Pending || unit.phase == UnitPhase::Waiting || end <= unit.startMs) return 0.0;
    return static_cast<double>(unit.bytes) * kMsPerSecond / static_cast<double>(end - unit.startMs);
}

std::string FormatRate(double bytesPerSecond) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / kBytesPerKilobyte);
    return text;
}

std::string FormatDuration(uint64_t milliseconds) {
    uint64_t seconds = milliseconds / kMsPerSecond;
    char text[32];
    if (seconds >= kSecondsPerHour) {
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                      static_cast<unsigned long long>(seconds / kSecondsPerHour),
                      static_cast<unsigned long long>(seconds / kSecondsPerMinute % kSecondsPerMinute),
                      static_cast<unsigned long long>(seconds % kSecondsPerMinute));
    } else {
        std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(seconds / kSecondsPerMinute),
                      static_cast<unsigned long long>(seconds % kSecondsPerMinute));
    }
    return text;
}

std::string FormatPercent(uint64_t bytes, uint64_t total) {
    double percent = total == 0 ? 0.0 : 100.0 * static_cast<double>(bytes) / static_cast<double>(total);
    char text[16];
    std::snprintf(text, sizeof text, "%5.1f %%", percent);
    return text;
}

}  // namespace cli
