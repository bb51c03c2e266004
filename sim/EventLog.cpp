// Bounded in-memory event ring with a line sink.
#include "sim/EventLog.h"

namespace sim {

uint64_t EventLog::add(uint64_t nowMs, const char* type, Json fields) {
    Json event = Json::object();
    uint64_t seq = nextSeq_++;
    event["seq"] = seq;
    event["t_ms"] = nowMs;
    event["ts"] = double(wallBaseMs_ + nowMs) / 1000.0;
    event["event"] = type;
    event.update(fields);
    if (sink_) sink_(event, jsonLine(event));
    events_.emplace_back(seq, std::move(event));
    while (events_.size() > kKeptEvents) events_.pop_front();
    return seq;
}

Json EventLog::since(uint64_t since, size_t limit) const {
    Json out = Json::array();
    size_t count = 0;
    for (const auto& e : events_) {
        if (e.first <= since) continue;
        if (count++ >= limit) break;
        out.push_back(e.second);
    }
    return out;
}

}  // namespace sim
