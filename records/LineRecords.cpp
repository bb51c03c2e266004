// Reading the line from its records server (see LineRecords.h).
#include "records/LineRecords.h"

#include <stdexcept>

namespace records {

namespace {

const std::string kIso = "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'";

std::string Iso(const std::string& column) { return "to_char(" + column + " AT TIME ZONE 'UTC', " + kIso + ")"; }

std::string At(const SqlRow& row, size_t column) {
    return column < row.size() && row[column] ? *row[column] : std::string();
}

int64_t Number(const SqlRow& row, size_t column) {
    const std::string text = At(row, column);
    try {
        return text.empty() ? 0 : std::stoll(text);
    } catch (const std::exception&) {
        return 0;
    }
}

double Real(const SqlRow& row, size_t column) {
    const std::string text = At(row, column);
    try {
        return text.empty() ? 0.0 : std::stod(text);
    } catch (const std::exception&) {
        return 0.0;
    }
}

uint64_t Count(const SqlRow& row, size_t column) {
    const int64_t value = Number(row, column);
    return value > 0 ? static_cast<uint64_t>(value) : 0;
}

}  // namespace

bool LineRecords::Connected(ServerError* error) {
    if (connection_ && connection_->Broken()) connection_.reset();
    if (!connection_) connection_ = PgConnection::Connect(url_, error);
    return connection_ != nullptr;
}

bool LineRecords::Read(const std::string& sql, const std::vector<SqlParam>& params, std::vector<SqlRow>* rows,
                       ServerError* error) {
    if (!Connected(error)) return false;
    if (connection_->Run(sql, params, rows, error)) return true;
    if (connection_->Broken()) connection_.reset();
    return false;
}

bool LineRecords::Stations(std::vector<StationHeard>* stations, ServerError* error) {
    const std::string sql =
        "SELECT station, host, varnex_version, " + Iso("started_at") + ", " + Iso("heartbeat_at") + ", coalesce(" +
        Iso("ended_at") +
        ", ''), board_url, state::text, "
        "greatest(0, (extract(epoch FROM now() - heartbeat_at) * 1000)::bigint), extract(epoch FROM heartbeat_at) "
        "FROM varnex_stations ORDER BY station LIMIT " +
        std::to_string(kMaxLineStations);
    std::vector<SqlRow> rows;
    if (!Read(sql, {}, &rows, error)) return false;
    stations->clear();
    for (const SqlRow& row : rows) {
        stations->push_back({At(row, 0), At(row, 1), At(row, 2), At(row, 3), At(row, 4), At(row, 5), At(row, 6),
                             At(row, 7), Number(row, 8), Real(row, 9)});
    }
    return true;
}

bool LineRecords::Shift(int shiftHours, LineShiftFigures* figures, ServerError* error) {
    // Both read the shift's rows through the index on started_at; a row never ended counts
    // as neither loaded nor failed.
    const std::string window = "started_at >= now() - make_interval(hours => $1::int)";
    const std::string hours =
        "SELECT station, to_char(date_trunc('hour', started_at AT TIME ZONE 'UTC'), 'YYYY-MM-DD\"T\"HH24\":00:00Z\"'), "
        "count(*) FILTER (WHERE ended_at IS NOT NULL AND result = 'confirmed'), "
        "count(*) FILTER (WHERE ended_at IS NOT NULL AND result <> 'confirmed') FROM varnex_loads WHERE " +
        window + " GROUP BY 1, 2 ORDER BY 2, 1 LIMIT " + std::to_string(kMaxShiftHourRows);
    const std::string reasons = "SELECT reason, count(*) FROM varnex_loads WHERE " + window +
                                " AND ended_at IS NOT NULL AND result <> 'confirmed' GROUP BY reason "
                                "ORDER BY 2 DESC, 1 LIMIT " +
                                std::to_string(kMaxFailureReasons);
    const std::vector<SqlParam> params = {std::to_string(shiftHours)};
    std::vector<SqlRow> rows;
    if (!Read(hours, params, &rows, error)) return false;
    figures->hours.clear();
    for (const SqlRow& row : rows) figures->hours.push_back({At(row, 0), At(row, 1), Count(row, 2), Count(row, 3)});
    if (!Read(reasons, params, &rows, error)) return false;
    figures->reasons.clear();
    for (const SqlRow& row : rows) figures->reasons.push_back({At(row, 0), Count(row, 1)});
    return true;
}

}  // namespace records
