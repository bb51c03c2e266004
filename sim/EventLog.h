// The unit's machine-readable record: every event (frames in and out, bytes counted, faults
// applied, files received) is one JSON object with a sequence number and a timestamp. The
// latest events stay in memory for the control channel; each is also handed to a sink
// (the event file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "sim/Json.h"

namespace sim {

class EventLog {
public:
    // Gets each event and its one-line JSON text.
    using Sink = std::function<void(const Json& event, const std::string& line)>;

    static constexpr size_t kKeptEvents = 20000;  // bounds memory on long runs

    void setSink(Sink sink) { sink_ = std::move(sink); }
    // Wall-clock milliseconds at monotonic time 0, for the "ts" field.
    void setWallClockBaseMs(uint64_t baseMs) { wallBaseMs_ = baseMs; }

    // Records an event of the given type at monotonic time nowMs; returns its sequence number.
    uint64_t add(uint64_t nowMs, const char* type, Json fields = Json::object());

    // Events with a sequence number above since, oldest first, at most limit of them.
    Json since(uint64_t since, size_t limit) const;
    uint64_t lastSeq() const { return nextSeq_ - 1; }
    void clear() { events_.clear(); }

private:
    std::deque<std::pair<uint64_t, Json>> events_;
    uint64_t nextSeq_ = 1;
    uint64_t wallBaseMs_ = 0;
    Sink sink_;
};

}  // namespace sim
