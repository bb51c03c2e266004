// The event stream's events, worked out from successive copies of the board (see EventStream.h).
#include "web/EventStream.h"

#include "board/BoardJson.h"

namespace web {

namespace {

// The counters that a "station" event carries; the clock's fields (elapsed, units per hour)
// move with time alone and ride along without causing an event of their own.
constexpr const char* kCounterFields[] = {"records", "loaded", "failed", "yield", "ended", "records_server"};
// A port's time left counts down with the clock alone: it rides along with the port's own
// changes (at most four a second while it loads) instead of re-sending every port each time
// any other port moves.
constexpr const char* kClockField = "left_ms";

std::string Dump(const nlohmann::json& value) {
    // Replaced, never thrown on: a port's name need not be UTF-8.
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string Event(const char* name, const nlohmann::json& data) {
    return std::string("event: ") + name + "\ndata: " + Dump(data) + "\n\n";
}

bool SamePort(nlohmann::json a, nlohmann::json b) {
    a.erase(kClockField);
    b.erase(kClockField);
    return a == b;
}

nlohmann::json Counters(const nlohmann::json& state) {
    nlohmann::json counters = nlohmann::json::object();
    for (const char* field : kCounterFields) counters[field] = state[field];
    return counters;
}

}  // namespace

nlohmann::json StateJson(const board::StationState& state, const std::string& startedAt) {
    nlohmann::json json = board::ToJson(state);
    json["started_at"] = startedAt;
    return json;
}

std::string EventStream::Next(const board::StationState& state) {
    if (ended_) return "";
    nlohmann::json json = StateJson(state, startedAt_);
    std::string text;
    if (!started_) {
        started_ = true;
        text = "retry: " + std::to_string(kReconnectMs) + "\n" + Event("state", json);
        ports_.assign(json["ports"].begin(), json["ports"].end());
        counters_ = Counters(json);
    } else {
        const nlohmann::json& ports = json["ports"];
        for (size_t index = 0; index < ports.size() && index < ports_.size(); ++index) {
            if (SamePort(ports[index], ports_[index])) continue;
            ports_[index] = ports[index];
            text += Event("port", {{"index", index}, {"port", ports[index]}});
        }
        nlohmann::json counters = Counters(json);
        if (counters != counters_) {
            counters_ = counters;
            nlohmann::json station = json;
            station.erase("ports");
            text += Event("station", station);
        }
    }
    if (state.ended) {
        ended_ = true;
        text += Event("end", {{"loaded", state.loaded}, {"failed", state.failed}});
    }
    return text;
}

}  // namespace web
