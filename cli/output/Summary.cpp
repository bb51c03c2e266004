// The end-of-run summary (see Summary.h).
#include "cli/output/Summary.h"

#include <algorithm>
#include <iomanip>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace cli {

namespace {

const char* ResultName(UnitPhase phase) {
    switch (phase) {
        case UnitPhase::Done: return "done";
        case UnitPhase::Failed: return "FAILED";
        default: return "unfinished";
    }
}

uint64_t RunningMs(const UnitState& unit, uint64_t nowMs) {
    if (unit.startMs == 0) return 0;
    uint64_t end = unit.endMs != 0 ? unit.endMs : nowMs;
    return end > unit.startMs ? end - unit.startMs : 0;
}

void WriteJson(std::ostream& out, const UnitBoard& board, uint64_t nowMs) {
    nlohmann::json units = nlohmann::json::array();
    size_t done = 0;
    for (const UnitState& unit : board.Units()) {
        if (unit.phase == UnitPhase::Done) ++done;
        std::string result = unit.phase == UnitPhase::Done ? "done" : "failed";
        units.push_back({{"port", unit.port},
                         {"result", result},
                         {"bytes", unit.bytes},
                         {"total", unit.total},
                         {"ms", RunningMs(unit, nowMs)},
                         {"detail", unit.text}});
    }
    nlohmann::json line = {{"event", "summary"}, {"units", units}, {"done", done}, {"failed", units.size() - done}};
    out << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
}

}  // namespace

void WriteSummary(std::ostream& out, const UnitBoard& board, uint64_t nowMs, bool json) {
    if (json) {
        WriteJson(out, board, nowMs);
        return;
    }
    const size_t portWidth = std::max<size_t>(board.WidestPort(), 4) + 2;
    out << std::left << std::setw(static_cast<int>(portWidth)) << "PORT" << std::setw(12) << "RESULT" << std::setw(10)
        << "BYTES" << std::setw(9) << "TIME" << std::setw(13) << "RATE"
        << "DETAIL\n";
    size_t done = 0;
    for (const UnitState& unit : board.Units()) {
        if (unit.phase == UnitPhase::Done) ++done;
        bool ran = unit.startMs != 0;
        out << std::setw(static_cast<int>(portWidth)) << unit.port << std::setw(12) << ResultName(unit.phase)
            << std::setw(10) << unit.bytes << std::setw(9) << (ran ? FormatDuration(RunningMs(unit, nowMs)) : "-")
            << std::setw(13) << (ran && unit.total != 0 ? FormatRate(BytesPerSecond(unit, nowMs)) : "-") << unit.text
            << '\n';
    }
    size_t count = board.Units().size();
    out << count << (count == 1 ? " unit: " : " units: ") << done << " done, " << count - done << " failed"
        << std::endl;
}

}  // namespace cli
