// The stations' figures in Prometheus' text format (see Metrics.h).
#include "web/Metrics.h"

#include <cstdio>
#include <set>

#include "board/StationSummary.h"

namespace web {

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the UTF-8 sequence starting at text[at], or 0 when it is not one.
size_t Utf8Length(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(at);
    size_t length = 0;
    unsigned lowest = 0;
    if (first < 0x80) return 1;
    if (first >= 0xC2 && first <= 0xDF) length = 2, lowest = 0x80;
    else if (first >= 0xE0 && first <= 0xEF) length = 3, lowest = 0x800;
    else if (first >= 0xF0 && first <= 0xF4) length = 4, lowest = 0x10000;
    else return 0;
    if (at + length > text.size()) return 0;
    unsigned code = first & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code >= lowest && code <= 0x10FFFF && !surrogate ? length : 0;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// One family: its help and its type before its first line; a family with no line is left out.
class Family {
public:
    Family(std::string* out, const char* name, const char* type, const char* help)
        : out_(out), name_(name), type_(type), help_(help) {}
    Family& Line(const std::vector<std::pair<const char*, std::string>>& labels, const std::string& value) {
        if (!started_) *out_ += std::string("# HELP ") + name_ + " " + help_ + "\n# TYPE " + name_ + " " + type_ + "\n";
        started_ = true;
        *out_ += name_;
        for (size_t i = 0; i < labels.size(); ++i)
            *out_ += std::string(i == 0 ? "{" : ",") + labels[i].first + "=\"" + LabelValue(labels[i].second) + "\"";
        *out_ += (labels.empty() ? " " : "} ") + value + "\n";
        return *this;
    }
    Family& Line(const std::vector<std::pair<const char*, std::string>>& labels, uint64_t value) {
        return Line(labels, std::to_string(value));
    }

private:
    std::string* out_;
    const char* name_;
    const char* type_;
    const char* help_;
    bool started_ = false;
};

}  // namespace

std::string LabelValue(const std::string& text) {
    std::string value;
    value.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const char c = text[at];
        const size_t length = Utf8Length(text, at);
        if (length == 0) {
            value += kReplacement;
            ++at;
            continue;
        }
        if (c == '\\') value += "\\\\";
        else if (c == '"') value += "\\\"";
        else if (c == '\n') value += "\\n";
        else value.append(text, at, length);
        at += length;
    }
    return value;
}

StationSample SampleOf(const board::StationState& state, const std::string& station) {
    StationSample sample;
    sample.station = station;
    sample.forwarding = !state.server.host.empty();
    sample.waiting = state.server.waiting;
    sample.forwardErrors = state.server.errors;
    for (const board::PortState& port : state.ports) {
        sample.ports.push_back({port.name, port.step, port.lost, port.failed, port.loads});
    }
    return sample;
}

std::string MetricsText(const std::vector<StationSample>& stations) {
    std::string out;
    Family loads(&out, "varnex_loads_total", "counter", "Loads ended on a port since the station started, by result.");
    for (const StationSample& s : stations) {
        for (const PortSample& port : s.ports) {
            // Every result for every port, 0 where none is, so that a rate or a sum sees a
            // series from the start rather than from its first load.
            std::map<std::string, uint64_t> counts = port.loads;
            for (const std::string& result : board::LoadResultNames()) counts.emplace(result, 0);
            for (const auto& count : counts)
                loads.Line({{"station", s.station}, {"port", port.name}, {"result", count.first}}, count.second);
        }
    }
    Family steps(&out, "varnex_units", "gauge", "Ports of the station at each step of a unit's cycle.");
    for (const StationSample& s : stations) {
        std::map<std::string, uint64_t> counts;
        for (const std::string& step : board::StepNames()) counts[step] = 0;
        for (const PortSample& port : s.ports) ++counts[port.step];
        for (const auto& count : counts) steps.Line({{"station", s.station}, {"step", count.first}}, count.second);
    }
    Family lost(&out, "varnex_port_lost", "gauge", "1 while the port cannot be used and is being opened again.");
    for (const StationSample& s : stations) {
        for (const PortSample& port : s.ports) lost.Line({{"station", s.station}, {"port", port.name}}, port.lost);
    }
    Family failed(&out, "varnex_port_failed", "gauge", "1 while the port's last unit failed, until its next unit.");
    for (const StationSample& s : stations) {
        for (const PortSample& port : s.ports) failed.Line({{"station", s.station}, {"port", port.name}}, port.failed);
    }
    Family waiting(&out, "varnex_records_waiting", "gauge",
                   "Records rows the line's records server has not taken yet.");
    for (const StationSample& s : stations) {
        if (s.forwarding) waiting.Line({{"station", s.station}}, s.waiting);
    }
    Family errors(&out, "varnex_forward_errors_total", "counter",
                  "Tries to send records that the records server refused or never answered.");
    for (const StationSample& s : stations) {
        if (s.forwarding) errors.Line({{"station", s.station}}, s.forwardErrors);
    }
    Family up(&out, "varnex_station_up", "gauge", "1 while the station's heartbeat is recent, 0 when silent or ended.");
    for (const StationSample& s : stations) {
        if (s.fromHeartbeat) up.Line({{"station", s.station}}, s.up);
    }
    Family heard(&out, "varnex_station_last_heartbeat_seconds", "gauge",
                 "Unix time of the station's last heartbeat on the records server.");
    for (const StationSample& s : stations) {
        if (s.fromHeartbeat) heard.Line({{"station", s.station}}, Number(s.heartbeatSeconds));
    }
    return out;
}

}  // namespace web
