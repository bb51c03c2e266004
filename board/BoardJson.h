// The board as JSON, for the web board and anything else that reads it by machine. Field
// names in snake_case; text that is not UTF-8 (a device name, a system's error) is replaced,
// never thrown on.
//
//   {"sequence": 42, "elapsed_ms": 360000, "records": "shift.db", "loaded": 5, "failed": 1,
//    "yield": 0.833, "units": 4, "first_pass_yield": 0.75, "units_per_hour": 50.0, "ended": false,
//    "ports": [{"name": "/dev/ttyUSB0", "step": "loading", "text": "", "unit": 6,
//               "loading": true, "bytes": 12000, "total": 249008, "rate": 10400.0,
//               "left_ms": 22800, "failed": false, "reason": "", "result": "confirmed",
//               "lost": false}, ...]}
//
// "yield", "first_pass_yield", "units_per_hour" (in a station's first minutes) and "left_ms" are
// null while not known, "notice" (a message written during the station) while there is none;
// "rate" is in bytes per second.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "board/Board.h"

namespace board {

nlohmann::json ToJson(const PortState& port);
nlohmann::json ToJson(const StationState& state);
// The state as one line of JSON (no line end inside, so it fits an event-stream line).
std::string ToJsonLine(const StationState& state);

}  // namespace board
