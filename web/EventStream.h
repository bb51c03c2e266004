// What the event-stream readers are sent as the board changes: the whole state first
// ("state"), then one "port" event per port that changed (a step, a failure, progress: the
// board publishes progress at most four times a second per port) and a "station" event when
// the counters moved (a load's end); "end" once the station has stopped. Every data line is
// one line of JSON, so no text from a port or a unit can end an event early or forge one.
//
// Each change is encoded once, by the EventEncoder, for every reader: a reader only picks the
// events that changed since what it was sent, so thirty-two readers cost little more than one.
#pragma once

#include <cstdint>
#include <mutex>
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

class EventEncoder {
public:
    explicit EventEncoder(std::string startedAt) : startedAt_(std::move(startedAt)) {}
    // Encodes what changed since the last copy taken; a copy no newer than that is ignored.
    void Take(const board::StationState& state);
    uint64_t Latest() const;
    // Port and station events encoded so far (each change once, however many readers).
    uint64_t Encoded() const;

private:
    friend class EventStream;
    mutable std::mutex mutex_;  // the server's threads only; a port's thread never waits on it
    std::string startedAt_;
    uint64_t latest_ = 0;
    bool taken_ = false;
    nlohmann::json state_;                 // the latest copy's JSON
    mutable std::string stateText_;        // its "state" event, made when a new reader asks
    mutable uint64_t stateTextOf_ = 0;     // the sequence stateText_ was made from
    std::vector<nlohmann::json> ports_;    // each port as last encoded
    std::vector<std::string> portEvents_;  // and its event
    std::vector<uint64_t> portChanged_;    // the sequence it changed at
    nlohmann::json counters_;
    std::string stationEvent_;
    uint64_t stationChanged_ = 0;
    bool ended_ = false;
    std::string endEvent_;
    uint64_t encoded_ = 0;
};

// One reader's place in the encoder's events.
class EventStream {
public:
    explicit EventStream(const EventEncoder& encoder) : encoder_(encoder) {}
    // The text that brings this reader up to the encoder's latest copy; "" when nothing it
    // shows has changed.
    std::string Next();
    bool Ended() const { return ended_; }

private:
    const EventEncoder& encoder_;
    bool started_ = false;
    uint64_t seen_ = 0;
    bool ended_ = false;
};

}  // namespace web
