// The server's side of the records (see ServerRecords.h): the upsert and the listing.
#include "records/ServerRecords.h"

namespace records {

namespace {

constexpr const char* kInsert =
    "INSERT INTO varnex_loads AS t (station, journal, row_id, started_at, ended_at, port, operation, image, "
    "image_size, image_sha256, baud, bytes_sent, result, reason, duration_ms, unit, varnex_version) VALUES ";
// The placeholders of one row, each cast, as they go as text.
constexpr const char* kRowTypes[] = {"text", "uuid", "bigint", "timestamptz", "timestamptz", "text",
                                     "text", "text", "bigint", "text",        "integer",     "bigint",
                                     "text", "text", "bigint", "integer",     "text"};
constexpr size_t kParamsPerRow = sizeof kRowTypes / sizeof kRowTypes[0];
// A row already ended on the server keeps its end; one not ended takes an end that arrives.
constexpr const char* kOnConflict =
    " ON CONFLICT (station, journal, row_id) DO UPDATE SET ended_at = excluded.ended_at, bytes_sent = "
    "excluded.bytes_sent, result = excluded.result, reason = excluded.reason, duration_ms = excluded.duration_ms, "
    "received_at = now() WHERE t.ended_at IS NULL AND excluded.ended_at IS NOT NULL RETURNING row_id";

constexpr const char* kIsoUtc = "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'";

std::string Iso(const char* column) {
    return std::string("to_char(") + column + " AT TIME ZONE 'UTC', " + kIsoUtc + ")";
}

SqlParam Text(const std::string& text) { return text; }
SqlParam Number(uint64_t value) { return std::to_string(value); }

std::string Value(const SqlRow& row, size_t column) { return row.at(column).value_or(std::string()); }
uint64_t Unsigned(const SqlRow& row, size_t column) {
    const std::string text = Value(row, column);
    return text.empty() ? 0 : std::stoull(text);
}

}  // namespace

bool ServerRecords::Connected(ServerError* error) {
    if (connection_ && connection_->Broken()) connection_.reset();
    if (!connection_) connection_ = PgConnection::Connect(url_, error);
    return connection_ != nullptr;
}

bool ServerRecords::Send(const std::string& journal, const std::vector<Row>& rows, size_t* taken, ServerError* error) {
    *taken = 0;
    if (rows.empty()) return true;
    if (!Connected(error)) return false;
    std::string sql = kInsert;
    std::vector<SqlParam> params;
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const bool ended = !row.endedAt.empty();
        params.push_back(Text(row.station));
        params.push_back(Text(journal));
        params.push_back(Number(static_cast<uint64_t>(row.id)));
        params.push_back(Text(row.startedAt));
        params.push_back(ended ? Text(row.endedAt) : std::nullopt);
        params.push_back(Text(row.port));
        params.push_back(Text(row.operation));
        params.push_back(Text(row.image));
        params.push_back(Number(row.imageSize));
        params.push_back(Text(row.imageSha256));
        params.push_back(Number(row.baud));
        params.push_back(Number(row.bytesSent));
        params.push_back(Text(ended ? row.result : kInterrupted));
        params.push_back(Text(row.reason));
        params.push_back(ended ? Number(row.durationMs) : std::nullopt);
        params.push_back(Number(row.unit));
        params.push_back(Text(row.version));
        sql += i == 0 ? "(" : ",(";
        for (size_t p = 0; p < kParamsPerRow; ++p) {
            sql += (p == 0 ? "$" : ",$") + std::to_string(i * kParamsPerRow + p + 1) + "::" + kRowTypes[p];
        }
        sql += ")";
    }
    sql += kOnConflict;
    std::vector<SqlRow> returned;
    if (!connection_->Run(sql, params, &returned, error)) {
        if (connection_->Broken()) connection_.reset();
        return false;
    }
    *taken = returned.size();
    return true;
}

bool ServerRecords::List(const Filter& filter, std::vector<Row>* rows, ServerError* error) {
    if (!Connected(error)) return false;
    const std::string result = "(CASE WHEN ended_at IS NULL THEN 'interrupted' ELSE result END)";
    const std::string sql =
        "SELECT row_id, " + Iso("started_at") + ", coalesce(" + Iso("ended_at") +
        ", ''), station, port, operation, image, image_size, image_sha256, baud, bytes_sent, " + result +
        ", reason, coalesce(duration_ms, 0), unit, varnex_version FROM varnex_loads WHERE ($1 = '' OR " +
        Iso("started_at") + " >= $1) AND ($2 = '' OR port = $2) AND ($3 = '' OR " + result +
        " = $3) AND ($4 = '' OR station = $4) ORDER BY started_at, row_id, station, journal";
    std::vector<SqlRow> found;
    if (!connection_->Run(sql, {filter.since, filter.port, filter.result, filter.station}, &found, error)) return false;
    for (const SqlRow& values : found) {
        Row row;
        row.id = static_cast<int64_t>(Unsigned(values, 0));
        row.startedAt = Value(values, 1);
        row.endedAt = Value(values, 2);
        row.station = Value(values, 3);
        row.port = Value(values, 4);
        row.operation = Value(values, 5);
        row.image = Value(values, 6);
        row.imageSize = Unsigned(values, 7);
        row.imageSha256 = Value(values, 8);
        row.baud = static_cast<uint32_t>(Unsigned(values, 9));
        row.bytesSent = Unsigned(values, 10);
        row.result = Value(values, 11);
        row.reason = Value(values, 12);
        row.durationMs = Unsigned(values, 13);
        row.unit = static_cast<uint32_t>(Unsigned(values, 14));
        row.version = Value(values, 15);
        rows->push_back(std::move(row));
    }
    return true;
}

}  // namespace records
