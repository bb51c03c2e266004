// The line at a glance (see LineBoard.h).
#include "board/LineBoard.h"

#include "board/StationSummary.h"

namespace board {

Presence PresenceOf(const records::StationHeard& heard) {
    if (!heard.endedAt.empty()) return Presence::Ended;
    return heard.silentMs > kSilentAfterMs ? Presence::Silent : Presence::Up;
}

const char* PresenceName(Presence presence) {
    switch (presence) {
        case Presence::Up: return "up";
        case Presence::Silent: return "silent";
        case Presence::Ended: return "ended";
    }
    return "silent";
}

StationState HeardState(const records::StationHeard& heard) {
    StationState state;
    // A summary that is not JSON (the table is the line's, any station's role writes it)
    // leaves the station's counters unknown; its row still shows.
    const nlohmann::json summary = nlohmann::json::parse(heard.summary, nullptr, false);
    if (!summary.is_discarded()) FromSummary(summary, &state);
    state.ended = !heard.endedAt.empty();
    return state;
}

nlohmann::json LineJson(const std::vector<records::StationHeard>& stations, const records::LineShiftFigures& shift,
                        int shiftHours, const LineServer& server) {
    nlohmann::json rows = nlohmann::json::array();
    for (const records::StationHeard& heard : stations) {
        const StationState state = HeardState(heard);
        nlohmann::json ports = nlohmann::json::array();
        for (const PortState& port : state.ports) ports.push_back(SummaryJson(port));
        nlohmann::json row = {{"station", heard.station},
                              {"host", heard.host},
                              {"version", heard.version},
                              {"started_at", heard.startedAt},
                              {"heartbeat_at", heard.heartbeatAt},
                              {"ended_at", nullptr},
                              {"board_url", heard.boardUrl},
                              {"presence", PresenceName(PresenceOf(heard))},
                              {"silent_ms", heard.silentMs},
                              {"loaded", state.loaded},
                              {"failed", state.failed},
                              {"yield", nullptr},
                              {"units_per_hour", state.unitsPerHour},
                              // Which try of a unit a load was needs the unit's serial, which
                              // the records do not carry yet.
                              {"first_pass_yield", nullptr},
                              {"records_waiting", state.server.waiting},
                              {"ports", ports}};
        if (!heard.endedAt.empty()) row["ended_at"] = heard.endedAt;
        if (state.yield >= 0.0) row["yield"] = state.yield;
        rows.push_back(row);
    }
    nlohmann::json hours = nlohmann::json::array();
    for (const records::LineShiftFigures::Hour& hour : shift.hours) {
        hours.push_back(
            {{"station", hour.station}, {"hour", hour.hour}, {"loaded", hour.loaded}, {"failed", hour.failed}});
    }
    nlohmann::json reasons = nlohmann::json::array();
    for (const records::LineShiftFigures::Reason& reason : shift.reasons)
        reasons.push_back({{"reason", reason.reason}, {"count", reason.count}});
    nlohmann::json from = {{"host", server.host},
                           {"reachable", server.reachable},
                           {"reason", nullptr},
                           {"read_at", nullptr}};
    if (!server.reason.empty()) from["reason"] = server.reason;
    if (!server.readAt.empty()) from["read_at"] = server.readAt;
    return {{"server", from},   {"silent_after_ms", kSilentAfterMs}, {"shift_hours", shiftHours},
            {"stations", rows}, {"units_per_hour", hours},           {"failures", reasons}};
}

}  // namespace board
