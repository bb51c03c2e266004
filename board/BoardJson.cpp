// The board as JSON (see BoardJson.h).
#include "board/BoardJson.h"

namespace board {

nlohmann::json ToJson(const PortState& port) {
    nlohmann::json json = {
        {"name", port.name},       {"step", port.step},     {"text", port.text},     {"unit", port.unit},
        {"loading", port.loading}, {"bytes", port.bytes},   {"total", port.total},   {"rate", port.rate},
        {"left_ms", nullptr},      {"failed", port.failed}, {"reason", port.reason}, {"result", port.result},
        {"lost", port.lost},
    };
    if (port.leftMs >= 0) json["left_ms"] = port.leftMs;
    return json;
}

nlohmann::json ToJson(const StationState& state) {
    nlohmann::json ports = nlohmann::json::array();
    for (const PortState& port : state.ports) ports.push_back(ToJson(port));
    nlohmann::json json = {
        {"sequence", state.sequence},
        {"elapsed_ms", state.elapsedMs},
        {"records", state.records},
        {"loaded", state.loaded},
        {"failed", state.failed},
        {"yield", nullptr},
        {"units_per_hour", nullptr},
        {"records_server", nullptr},
        {"notice", nullptr},
        {"ended", state.ended},
        {"ports", ports},
    };
    if (state.yield >= 0.0) json["yield"] = state.yield;
    if (state.unitsPerHour >= 0.0) json["units_per_hour"] = state.unitsPerHour;
    if (!state.notice.empty()) json["notice"] = state.notice;
    json["units"] = state.units;
    json["first_pass_yield"] = nullptr;
    if (state.firstPassYield >= 0.0) json["first_pass_yield"] = state.firstPassYield;
    if (!state.server.host.empty()) {
        nlohmann::json server = {{"host", state.server.host}, {"waiting", state.server.waiting}, {"reason", nullptr}};
        if (!state.server.reason.empty()) server["reason"] = state.server.reason;
        json["records_server"] = server;
    }
    return json;
}

std::string ToJsonLine(const StationState& state) {
    return ToJson(state).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace board
