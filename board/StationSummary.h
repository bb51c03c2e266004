// The station in brief, as its heartbeat carries it to the line's server and the line page
// reads it back: the shift's counters, the forwarding's figures and each port's step, unit,
// latched failure and loads by result. Progress (bytes, rate, time left) stays on the
// station's own board.
//
//   {"elapsed_ms": 360000, "loaded": 41, "failed": 2, "yield": 0.953, "units_per_hour": 410.0,
//    "records_server": {"host": "db.line3", "waiting": 0, "errors": 1},
//    "ports": [{"name": "fixture 1", "step": "loading", "unit": 12, "failed": false,
//               "reason": "", "lost": false, "loads": {"confirmed": 11}}, ...]}
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "board/Board.h"

namespace board {

nlohmann::json SummaryJson(const StationState& state);
nlohmann::json SummaryJson(const PortState& port);

// Every step a port may show (kOpeningStep first) and every result a load may end with, by name.
const std::vector<std::string>& StepNames();
const std::vector<std::string>& LoadResultNames();

// The state a summary describes, as far as it does. A summary is read from a server that
// every station of the line writes to: a field missing or of the wrong type is left at its
// default, never thrown on; false when it is not a summary at all (not an object).
bool FromSummary(const nlohmann::json& summary, StationState* state);

}  // namespace board
