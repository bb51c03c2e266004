// The line at a glance: every station as its heartbeat left it on the line's server (up,
// silent since its last heartbeat, or ended), its counters and ports, and the shift's
// figures, as the line page's JSON (GET /api/line).
//
//   {"server": {"host": "db.line3", "reachable": true, "reason": null, "read_at": "..."},
//    "silent_after_ms": 15000, "shift_hours": 8,
//    "stations": [{"station": "bench-2", "presence": "up", "silent_ms": 1200, "board_url": "http://...",
//                  "loaded": 41, "failed": 2, "yield": 0.953, "units_per_hour": 410.0,
//                  "first_pass_yield": null, "records_waiting": 0,
//                  "ports": [{"name": "fixture 1", "step": "loading", "unit": 12, "failed": false,
//                             "reason": "", "lost": false, "loads": {"confirmed": 11}}, ...], ...}, ...],
//    "units_per_hour": [{"station": "bench-2", "hour": "2026-12-08T06:00:00Z", "loaded": 380, "failed": 3}],
//    "failures": [{"reason": "no confirmation", "count": 2}]}
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "board/Board.h"
#include "records/LineRecords.h"

namespace board {

// A station whose last heartbeat is older than this is silent (it beats every five seconds).
inline constexpr int64_t kSilentAfterMs = 15000;

enum class Presence { Up, Silent, Ended };
Presence PresenceOf(const records::StationHeard& heard);
const char* PresenceName(Presence presence);  // "up", "silent", "ended"

// What a station's heartbeat says of it (its summary read back; empty when unreadable).
StationState HeardState(const records::StationHeard& heard);

// Where the line page's figures come from, and whether it answers.
struct LineServer {
    std::string host;
    bool reachable = false;
    std::string reason;  // why not, in plain words
    std::string readAt;  // when the stations were last read (UTC ISO 8601); "" before the first time
};

nlohmann::json LineJson(const std::vector<records::StationHeard>& stations, const records::LineShiftFigures& shift,
                        int shiftHours, const LineServer& server);

}  // namespace board
