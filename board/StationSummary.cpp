// The station in brief (see StationSummary.h).
#include "board/StationSummary.h"

namespace board {

namespace {

// Bounds on what a summary read back may hold: a line's station has a few hundred ports at
// most and a port's name or reason is a line of text.
constexpr size_t kMaxPorts = 1024;
constexpr size_t kMaxText = 4096;
constexpr size_t kMaxResults = 16;

uint64_t Count(const nlohmann::json& object, const char* key) {
    auto found = object.find(key);
    return found != object.end() && found->is_number_unsigned() ? found->get<uint64_t>() : 0;
}

double Real(const nlohmann::json& object, const char* key, double otherwise) {
    auto found = object.find(key);
    return found != object.end() && found->is_number() ? found->get<double>() : otherwise;
}

bool Flag(const nlohmann::json& object, const char* key) {
    auto found = object.find(key);
    return found != object.end() && found->is_boolean() && found->get<bool>();
}

std::string Text(const nlohmann::json& object, const char* key, const std::string& otherwise = "") {
    auto found = object.find(key);
    if (found == object.end() || !found->is_string()) return otherwise;
    std::string text = found->get<std::string>();
    if (text.size() > kMaxText) text.resize(kMaxText);
    return text;
}

}  // namespace

const std::vector<std::string>& StepNames() {
    static const std::vector<std::string> names = {
        kOpeningStep,
        station::StepName(station::Step::WaitingForUnit),
        station::StepName(station::Step::Loading),
        station::StepName(station::Step::WaitingForConfirmation),
        station::StepName(station::Step::WaitingForUnitToGo),
        station::StepName(station::Step::PortLost),
    };
    return names;
}

const std::vector<std::string>& LoadResultNames() {
    static const std::vector<std::string> names = {
        station::LoadResultName(station::LoadResult::Confirmed),
        station::LoadResultName(station::LoadResult::Failed),
        station::LoadResultName(station::LoadResult::NoConfirmation),
        station::LoadResultName(station::LoadResult::Stopped),
    };
    return names;
}

nlohmann::json SummaryJson(const PortState& port) {
    return {{"name", port.name},     {"step", port.step}, {"unit", port.unit},  {"failed", port.failed},
            {"reason", port.reason}, {"lost", port.lost}, {"loads", port.loads}};
}

nlohmann::json SummaryJson(const StationState& state) {
    nlohmann::json ports = nlohmann::json::array();
    for (const PortState& port : state.ports) ports.push_back(SummaryJson(port));
    nlohmann::json json = {{"elapsed_ms", state.elapsedMs},
                           {"loaded", state.loaded},
                           {"failed", state.failed},
                           {"yield", nullptr},
                           {"units_per_hour", state.unitsPerHour},
                           {"records_server", nullptr},
                           {"ports", ports}};
    if (state.yield >= 0.0) json["yield"] = state.yield;
    if (!state.server.host.empty()) {
        json["records_server"] = {{"host", state.server.host},
                                  {"waiting", state.server.waiting},
                                  {"errors", state.server.errors}};
    }
    return json;
}

bool FromSummary(const nlohmann::json& summary, StationState* state) {
    if (!summary.is_object()) return false;
    state->elapsedMs = Count(summary, "elapsed_ms");
    state->loaded = Count(summary, "loaded");
    state->failed = Count(summary, "failed");
    state->yield = Real(summary, "yield", -1.0);
    state->unitsPerHour = Real(summary, "units_per_hour", 0.0);
    auto server = summary.find("records_server");
    if (server != summary.end() && server->is_object()) {
        state->server.host = Text(*server, "host");
        state->server.waiting = Count(*server, "waiting");
        state->server.errors = Count(*server, "errors");
    }
    auto ports = summary.find("ports");
    if (ports == summary.end() || !ports->is_array()) return true;
    for (const nlohmann::json& given : *ports) {
        if (state->ports.size() >= kMaxPorts) break;
        if (!given.is_object()) continue;
        PortState port;
        port.name = Text(given, "name");
        port.step = Text(given, "step", kOpeningStep);
        port.unit = static_cast<uint32_t>(Count(given, "unit"));
        port.failed = Flag(given, "failed");
        port.reason = Text(given, "reason");
        port.lost = Flag(given, "lost");
        auto loads = given.find("loads");
        if (loads != given.end() && loads->is_object()) {
            for (auto load = loads->begin(); load != loads->end() && port.loads.size() < kMaxResults; ++load) {
                if (load.value().is_number_unsigned())
                    port.loads[load.key().substr(0, kMaxText)] = load.value().get<uint64_t>();
            }
        }
        state->ports.push_back(std::move(port));
    }
    return true;
}

}  // namespace board
