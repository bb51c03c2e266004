// The shift's figures by SQL (see ShiftFigures.h): one statement reads the shift's newest rows
// once and answers every figure as (kind, key, count) lines.
#include "records/RecordStore.h"

#include <sqlite3.h>

#include "records/Sqlite.h"

namespace records {

namespace {

// ?1 the shift's start (ISO 8601, UTC), ?2 the station, ?3 the most rows. A row reads as a
// failure once it ended, neither loaded nor stopped by the operator. The hour is counted from
// the shift's start to the row's end.
const std::string kShiftSql =
    std::string("WITH shift AS MATERIALIZED (SELECT port, result, reason, ended_at FROM loads INDEXED BY loads_started"
                " WHERE started_at >= ?1 AND station = ?2 ORDER BY started_at DESC LIMIT ?3),"
                " failures AS MATERIALIZED (SELECT port, coalesce(nullif(reason, ''), result) AS why FROM shift"
                " WHERE ended_at IS NOT NULL AND result NOT IN ('") +
    kConfirmed + "', '" + kDone + "', '" + kStopped +
    "'))"
    " SELECT 'hour', CAST(max(0, julianday(ended_at) - julianday(?1)) * 24 AS INTEGER) AS hour, count(*) FROM shift"
    " WHERE ended_at IS NOT NULL AND result IN ('" +
    kConfirmed + "', '" + kDone +
    "') GROUP BY hour"
    " UNION ALL SELECT 'port', port, count(*) FROM failures GROUP BY port"
    " UNION ALL SELECT 'reason', why, count(*) FROM failures GROUP BY why"
    " UNION ALL SELECT 'rows', '', count(*) FROM shift";

constexpr size_t kMostHours = 24 * 31;  // a start time far in the past draws no endless chart

}  // namespace

bool RecordStore::Shift(const std::string& station, const std::string& since, ShiftFigures* figures, std::string* error,
                        size_t most) {
    std::lock_guard<std::mutex> hold(mutex_);
    *figures = ShiftFigures{};
    Statement select(db_, kShiftSql);
    if (!select.Ok()) {
        *error = path_ + ": " + sqlite3_errmsg(db_);
        return false;
    }
    select.Bind(1, since);
    select.Bind(2, station);
    select.Bind(3, static_cast<int64_t>(most));
    int status;
    while ((status = select.Step()) == SQLITE_ROW) {
        const std::string kind = select.Text(0);
        const auto count = static_cast<uint64_t>(select.Int(2));
        if (kind == "hour") {
            const auto hour = static_cast<size_t>(select.Int(1));
            if (hour >= kMostHours) continue;
            if (figures->loadedPerHour.size() <= hour) figures->loadedPerHour.resize(hour + 1);
            figures->loadedPerHour[hour] += count;
        } else if (kind == "port") {
            figures->failuresByPort[select.Text(1)] += count;
        } else if (kind == "reason") {
            figures->failuresByReason[select.Text(1)] += count;
        } else {
            figures->rows = count;
        }
    }
    figures->capped = figures->rows >= most;
    if (status == SQLITE_DONE) return true;
    *error = path_ + ": " + sqlite3_errmsg(db_);
    return false;
}

}  // namespace records
