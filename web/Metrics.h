// The stations' figures in Prometheus' text format (version 0.0.4), for the plant's
// monitoring: loads per port and result as counters, the ports at each step, rows waiting for
// the records server and the forwarding's errors. A station serves its own; the line page
// serves every station's from their heartbeats, so both are built from the same samples.
//
//   # HELP varnex_loads_total Loads ended on a port since the station started, by result.
//   # TYPE varnex_loads_total counter
//   varnex_loads_total{station="bench-2",port="fixture 1",result="confirmed"} 41
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "board/Board.h"

namespace web {

inline constexpr const char* kMetricsType = "text/plain; version=0.0.4; charset=utf-8";

struct PortSample {
    std::string name;
    std::string step;  // station::StepName, or "opening"
    bool lost = false;
    bool failed = false;                    // the last unit's failure, latched
    std::map<std::string, uint64_t> loads;  // by result
};

struct StationSample {
    std::string station;
    bool forwarding = false;  // the station sends its records to a server
    uint64_t waiting = 0;     // rows the server has not taken yet
    uint64_t forwardErrors = 0;
    // From heartbeats only: whether the station is heard from (up) and when it last was.
    bool fromHeartbeat = false;
    bool up = false;
    double heartbeatSeconds = 0.0;  // Unix time of the last heartbeat
    std::vector<PortSample> ports;
};

// What a station's own board says, under the station's name.
StationSample SampleOf(const board::StationState& state, const std::string& station);

// The whole exposition: every family once with its # HELP and # TYPE, the samples of every
// station under it; every step named by the ports shows, at 0 where no port is at it.
std::string MetricsText(const std::vector<StationSample>& stations);

// A label's value as the format carries it: backslash, double quote and line end escaped,
// bytes that are not UTF-8 replaced, so no name can end a label or a line early.
std::string LabelValue(const std::string& text);

}  // namespace web
