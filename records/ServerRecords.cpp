// The server's side of the records (see ServerRecords.h): the upsert and the listing.
#include "records/ServerRecords.h"

#include <variant>

#include "records/RecordColumns.h"
#include "records/RecordSchema.h"

namespace records {

namespace {

// The server's table holds the file's columns (Columns()) after the station and the journal,
// under the same names but the row's id (row_id there) and with PostgreSQL's types: the times
// as timestamptz, every other number as bigint (which fits an integer column too).
const char* ServerName(const Column& column) { return std::string(column.name) == "id" ? "row_id" : column.name; }

bool IsTime(const Column& column) {
    const std::string name = column.name;
    return name == "started_at" || name == "ended_at";
}

const char* ServerType(const Column& column) {
    if (IsTime(column)) return "timestamptz";
    return column.type == ColumnType::Integer ? "bigint" : "text";
}

constexpr const char* kIsoUtc = "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'";

std::string Iso(const std::string& column) { return "to_char(" + column + " AT TIME ZONE 'UTC', " + kIsoUtc + ")"; }

const std::string kResult = "(CASE WHEN ended_at IS NULL THEN 'interrupted' ELSE result END)";

// A column as the listing reads it, in the file's form: times as the file writes them, a
// value not yet written as the file reads it ("" or 0), a row never ended as interrupted.
std::string Listed(const Column& column) {
    const std::string name = ServerName(column);
    if (name == "result") return kResult;
    std::string value = IsTime(column) ? Iso(name) : name;
    if (column.written == Written::AtEnd)
        value = "coalesce(" + value + (column.type == ColumnType::Integer ? ", 0)" : ", '')");
    return value;
}

// A row's value as it goes to the server: as text, null where the row has not ended yet.
SqlParam Param(const Column& column, const Row& row) {
    if (column.written == Written::AtEnd && row.endedAt.empty()) return std::nullopt;
    const Value value = column.get(row);
    if (const std::string* text = std::get_if<std::string>(&value)) return *text;
    return std::to_string(std::get<int64_t>(value));
}

// The upsert's head and tail: a row already ended on the server keeps its end; one not ended
// takes an end that arrives, so a late start never moves a row back.
std::string InsertHead() {
    std::string sql = "INSERT INTO varnex_loads AS t (station, journal";
    for (const Column& column : Columns()) {
        if (std::string(column.name) != "station") sql += std::string(", ") + ServerName(column);
    }
    return sql + ") VALUES ";
}

std::string OnConflict() {
    std::string sets;
    for (const Column& column : Columns()) {
        if (WrittenAtEnd(column)) sets += std::string(column.name) + " = excluded." + column.name + ", ";
    }
    return " ON CONFLICT (station, journal, row_id) DO UPDATE SET " + sets +
           "received_at = now() WHERE t.ended_at IS NULL AND excluded.ended_at IS NOT NULL RETURNING row_id";
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
    std::string sql = InsertHead();
    std::vector<SqlParam> params;
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        std::vector<const char*> types = {"text", "uuid"};
        params.push_back(row.station);
        params.push_back(journal);
        for (const Column& column : Columns()) {
            if (std::string(column.name) == "station") continue;
            params.push_back(Param(column, row));
            types.push_back(ServerType(column));
        }
        sql += i == 0 ? "(" : ",(";
        const size_t first = params.size() - types.size();
        for (size_t p = 0; p < types.size(); ++p) {
            sql += (p == 0 ? "$" : ",$") + std::to_string(first + p + 1) + "::" + types[p];
        }
        sql += ")";
    }
    sql += OnConflict();
    std::vector<SqlRow> returned;
    if (!connection_->Run(sql, params, &returned, error)) {
        if (connection_->Broken()) connection_.reset();
        return false;
    }
    *taken = returned.size();
    return true;
}

bool ServerRecords::Beat(const Heartbeat& heartbeat, ServerError* error) {
    if (!Connected(error)) return false;
    // The server's clock stamps the heartbeat, so a station's clock never makes it look silent;
    // a station started again under its name clears the end of its last run.
    static const std::string sql =
        "INSERT INTO varnex_stations AS s (station, host, varnex_version, started_at, heartbeat_at, ended_at, "
        "board_url, state) VALUES ($1, $2, $3, $4::timestamptz, now(), CASE WHEN $5::boolean THEN now() END, $6, "
        "$7::jsonb) ON CONFLICT (station) DO UPDATE SET host = excluded.host, "
        "varnex_version = excluded.varnex_version, started_at = excluded.started_at, heartbeat_at = now(), "
        "ended_at = excluded.ended_at, board_url = excluded.board_url, state = excluded.state";
    std::vector<SqlRow> none;
    const std::vector<SqlParam> params = {heartbeat.station,
                                          heartbeat.host,
                                          heartbeat.version,
                                          heartbeat.startedAt,
                                          std::string(heartbeat.ended ? "true" : "false"),
                                          heartbeat.boardUrl,
                                          heartbeat.state.empty() ? std::string("{}") : heartbeat.state};
    if (!connection_->Run(sql, params, &none, error)) {
        if (connection_->Broken()) connection_.reset();
        return false;
    }
    return true;
}

bool ServerRecords::List(const Filter& filter, std::vector<Row>* rows, ServerError* error) {
    if (!Connected(error)) return false;
    std::string list;
    for (const Column& column : Columns()) list += (list.empty() ? "" : ", ") + Listed(column);
    const std::string sql = "SELECT " + list + " FROM varnex_loads WHERE ($1 = '' OR " + Iso("started_at") +
                            " >= $1) AND ($2 = '' OR port = $2) AND ($3 = '' OR " + kResult +
                            " = $3) AND ($4 = '' OR station = $4) AND ($5 = '' OR serial = $5)"
                            " ORDER BY started_at, row_id, station, journal";
    std::vector<SqlRow> found;
    if (!connection_->Run(sql, {filter.since, filter.port, filter.result, filter.station, filter.serial}, &found,
                          error)) {
        return false;
    }
    const std::vector<Column>& columns = Columns();
    for (const SqlRow& values : found) {
        Row row;
        for (size_t i = 0; i < columns.size() && i < values.size(); ++i) {
            const std::string text = values[i].value_or(std::string());
            if (columns[i].type == ColumnType::Text) {
                columns[i].set(&row, text);
            } else {
                columns[i].set(&row, static_cast<int64_t>(text.empty() ? 0 : std::stoll(text)));
            }
        }
        rows->push_back(std::move(row));
    }
    return true;
}

}  // namespace records
