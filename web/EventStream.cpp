// The event stream's events, encoded once from successive copies of the board and picked by
// each reader (see EventStream.h).
#include "web/EventStream.h"

#include "board/BoardJson.h"

namespace web {

namespace {

// The counters that a "station" event carries; the clock's fields (elapsed, units per hour)
// move with time alone and ride along without causing an event of their own.
constexpr const char* kCounterFields[] = {"records", "loaded", "failed", "yield", "ended", "records_server", "notice"};
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

void EventEncoder::Take(const board::StationState& state) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (taken_ && state.sequence <= latest_) return;
    nlohmann::json json = StateJson(state, startedAt_);
    const nlohmann::json& ports = json["ports"];
    // A station's ports never change in number; the first copy sets them.
    portEvents_.resize(ports.size());
    portChanged_.resize(ports.size(), 0);
    ports_.resize(ports.size());
    for (size_t index = 0; index < ports.size(); ++index) {
        if (taken_ && SamePort(ports[index], ports_[index])) continue;
        ports_[index] = ports[index];
        portEvents_[index] = Event("port", {{"index", index}, {"port", ports[index]}});
        portChanged_[index] = state.sequence;
        ++encoded_;
    }
    nlohmann::json counters = Counters(json);
    if (!taken_ || counters != counters_) {
        counters_ = counters;
        nlohmann::json station = json;
        station.erase("ports");
        stationEvent_ = Event("station", station);
        stationChanged_ = state.sequence;
        ++encoded_;
    }
    if (state.ended && !ended_) {
        ended_ = true;
        endEvent_ = Event("end", {{"loaded", state.loaded}, {"failed", state.failed}});
    }
    state_ = std::move(json);
    latest_ = state.sequence;
    taken_ = true;
}

uint64_t EventEncoder::Latest() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return latest_;
}

uint64_t EventEncoder::Encoded() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return encoded_;
}

std::string EventStream::Next() {
    std::lock_guard<std::mutex> hold(encoder_.mutex_);
    if (ended_ || !encoder_.taken_) return "";
    std::string text;
    if (!started_) {
        started_ = true;
        if (encoder_.stateTextOf_ != encoder_.latest_ || encoder_.stateText_.empty()) {
            encoder_.stateText_ = Event("state", encoder_.state_);
            encoder_.stateTextOf_ = encoder_.latest_;
        }
        text = "retry: " + std::to_string(kReconnectMs) + "\n" + encoder_.stateText_;
    } else if (seen_ != encoder_.latest_) {
        for (size_t index = 0; index < encoder_.portEvents_.size(); ++index) {
            if (encoder_.portChanged_[index] > seen_) text += encoder_.portEvents_[index];
        }
        if (encoder_.stationChanged_ > seen_) text += encoder_.stationEvent_;
    }
    seen_ = encoder_.latest_;
    if (encoder_.ended_) {
        ended_ = true;
        text += encoder_.endEvent_;
    }
    return text;
}

}  // namespace web
