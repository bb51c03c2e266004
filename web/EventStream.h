// What one event-stream reader is sent as the board changes: the whole state first ("state"),
// then one "port" event per port that changed (a step, a failure, progress: the board
// publishes progress at most four times a second per port) and a "station" event when the
// counters moved (a load's end); "end" once the station has stopped. Every data line is one
// line of JSON, so no text from a port or a unit can end an event early or forge one.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "board/Board.h"

namespace web {

// A comment line that keeps the connection (and any proxy on the way) open while nothing changes.
inline constexpr const char* kHeartbeat = ": heartbeat\n\n";
// How long a browser waits before it connects again after the stream was cut.
inline constexpr unsigned kReconnectMs = 2000;

// The board's JSON with what the web board adds: when the station started (UTC).
nlohmann::json StateJson(const board::StationState& state, const std::string& startedAt);

class EventStream {
public:
    explicit EventStream(std::string startedAt) : startedAt_(std::move(startedAt)) {}
    // The text that brings this reader from what it was sent up to state; "" when nothing
    // it shows has changed.
    std::string Next(const board::StationState& state);

private:
    std::string startedAt_;
    bool started_ = false;
    nlohmann::json counters_;
    std::vector<nlohmann::json> ports_;
    bool ended_ = false;
};

}  // namespace web
