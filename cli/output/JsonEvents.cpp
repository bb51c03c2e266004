// JSON lines for each unit's events (see JsonEvents.h).
#include "cli/output/JsonEvents.h"

#include <nlohmann/json.hpp>

namespace cli {

JsonEvents::JsonEvents(std::ostream& out, const std::vector<std::string>& ports, uint64_t startMs)
    : out_(out),
      ports_(ports),
      lastProgressMs_(ports.size(), 0),
      progressSent_(ports.size(), false),
      startMs_(startMs) {}

void JsonEvents::OnEvent(const UnitEvent& event, uint64_t nowMs) {
    if (event.unit >= ports_.size()) return;
    if (event.kind == EventKind::Progress) {
        if (progressSent_[event.unit] && nowMs - lastProgressMs_[event.unit] < kJsonProgressIntervalMs) return;
        progressSent_[event.unit] = true;
        lastProgressMs_[event.unit] = nowMs;
    }
    nlohmann::json line = {
        {"event", EventKindName(event.kind)},
        {"port", ports_[event.unit]},
        {"t_ms", nowMs >= startMs_ ? nowMs - startMs_ : 0},
    };
    if (event.cycleUnit != 0) line["unit"] = event.cycleUnit;
    if (event.step != nullptr) line["step"] = event.step;
    if (event.result != nullptr) line["result"] = event.result;
    if (event.kind == EventKind::Start || event.kind == EventKind::Progress || event.total != 0) {
        line["bytes"] = event.bytes;
        line["total"] = event.total;
    }
    // Text that came from the system (a device name, an error) may not be UTF-8; it is
    // replaced rather than thrown on.
    if (event.kind == EventKind::Failed) {
        line["reason"] = event.text;
    } else if (!event.text.empty()) {
        line["message"] = event.text;
    }
    out_ << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
}

}  // namespace cli
