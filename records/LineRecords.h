// The line as its records server holds it, for `varnex line`: each station's heartbeat row and
// the shift's figures (units per hour per station, failures per reason). Every read is one
// statement on a connection of its own, bounded in time as every statement is and in rows by
// its LIMIT, so a request never reads more than a page's worth however long the shift.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "records/PgConnection.h"

namespace records {

inline constexpr size_t kMaxLineStations = 500;
inline constexpr size_t kMaxShiftHourRows = 2000;  // stations x hours of the charts
inline constexpr size_t kMaxFailureReasons = 20;

// A station's row of varnex_stations.
struct StationHeard {
    std::string station;
    std::string host;
    std::string version;
    std::string startedAt;    // UTC ISO 8601
    std::string heartbeatAt;  // the server's time of the last heartbeat
    std::string endedAt;      // "" while it runs
    std::string boardUrl;
    std::string summary;         // the JSON the station sent
    int64_t silentMs = 0;        // the server's "now" less the last heartbeat
    double heartbeatUnix = 0.0;  // the last heartbeat in seconds since 1970 (UTC)
};

struct LineShiftFigures {
    struct Hour {
        std::string station;
        std::string hour;  // its start, UTC ISO 8601
        uint64_t loaded = 0;
        uint64_t failed = 0;
    };
    struct Reason {
        std::string reason;
        uint64_t count = 0;
    };
    std::vector<Hour> hours;      // oldest first
    std::vector<Reason> reasons;  // the most frequent first
};

class LineRecords {
public:
    explicit LineRecords(std::string url) : url_(std::move(url)) {}
    // The stations, by name.
    bool Stations(std::vector<StationHeard>* stations, ServerError* error);
    // The loads that started in the last shiftHours hours.
    bool Shift(int shiftHours, LineShiftFigures* figures, ServerError* error);

private:
    bool Connected(ServerError* error);
    bool Read(const std::string& sql, const std::vector<SqlParam>& params, std::vector<SqlRow>* rows,
              ServerError* error);
    std::string url_;
    std::unique_ptr<PgConnection> connection_;
};

}  // namespace records
