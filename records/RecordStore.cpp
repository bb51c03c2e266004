// The records file (see RecordStore.h): its schema, the checks at open, and the rows in and out.
#include "records/RecordStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <utility>

#include <sqlite3.h>

namespace records {

namespace {

// Marks the file as ours in its header, so that another program's database is not taken
// for an empty records file.
constexpr int kApplicationId = 0x56584E52;  // "VXNR"

constexpr const char* kSchema = R"sql(
CREATE TABLE loads(
    id INTEGER PRIMARY KEY,
    started_at TEXT NOT NULL,
    ended_at TEXT,
    station TEXT NOT NULL,
    port TEXT NOT NULL,
    operation TEXT NOT NULL,
    image TEXT NOT NULL,
    image_size INTEGER NOT NULL,
    image_sha256 TEXT NOT NULL,
    baud INTEGER NOT NULL,
    bytes_sent INTEGER NOT NULL DEFAULT 0,
    result TEXT NOT NULL DEFAULT 'interrupted',
    reason TEXT NOT NULL DEFAULT '',
    duration_ms INTEGER,
    unit INTEGER NOT NULL,
    varnex_version TEXT NOT NULL
);
CREATE INDEX loads_started ON loads(started_at);
)sql";

constexpr const char* kColumns =
    "id, started_at, coalesce(ended_at, ''), station, port, operation, image, image_size, image_sha256, baud, "
    "bytes_sent, result, reason, coalesce(duration_ms, 0), unit, varnex_version";

// A prepared statement, finalised when it goes.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { status_ = sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool Ok() const { return status_ == SQLITE_OK; }
    void Bind(int at, const std::string& text) {
        sqlite3_bind_text(statement_, at, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void Bind(int at, int64_t value) { sqlite3_bind_int64(statement_, at, value); }
    int Step() { return sqlite3_step(statement_); }
    std::string Text(int column) {
        const unsigned char* text = sqlite3_column_text(statement_, column);
        return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
    }
    int64_t Int(int column) { return sqlite3_column_int64(statement_, column); }

private:
    sqlite3_stmt* statement_ = nullptr;
    int status_ = SQLITE_ERROR;
};

bool Exec(sqlite3* db, const char* sql, std::string* error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    *error = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

bool ReadInt(sqlite3* db, const char* sql, int64_t* value, std::string* error) {
    Statement statement(db, sql);
    if (!statement.Ok() || statement.Step() != SQLITE_ROW) {
        *error = sqlite3_errmsg(db);
        return false;
    }
    *value = statement.Int(0);
    return true;
}

// Creates the schema in an empty file, or checks that the file holds ours.
bool CheckSchema(sqlite3* db, Access access, std::string* error) {
    int64_t applicationId = 0, version = 0, tables = 0;
    if (!ReadInt(db, "PRAGMA application_id", &applicationId, error) ||
        !ReadInt(db, "PRAGMA user_version", &version, error) ||
        !ReadInt(db, "SELECT count(*) FROM sqlite_schema", &tables, error)) {
        return false;
    }
    if (tables == 0 && applicationId == 0) {
        if (access == Access::Read) {
            *error = "it holds no records";
            return false;
        }
        std::string sql = std::string("BEGIN IMMEDIATE;") + kSchema +
                          "PRAGMA application_id = " + std::to_string(kApplicationId) +
                          "; PRAGMA user_version = " + std::to_string(kSchemaVersion) + "; COMMIT;";
        if (Exec(db, sql.c_str(), error)) return true;
        Exec(db, "ROLLBACK", error);
        return false;
    }
    if (applicationId != kApplicationId) {
        *error = "it is not a varnex records file";
        return false;
    }
    if (version > kSchemaVersion) {
        *error = "it was written by a later varnex (records schema " + std::to_string(version) +
                 "; this one knows up to " + std::to_string(kSchemaVersion) + ")";
        return false;
    }
    // Version 1 is the first; a later one migrates older files here.
    return true;
}

void BindFilter(Statement& statement, const Filter& filter) {
    statement.Bind(1, filter.since);
    statement.Bind(2, filter.port);
    statement.Bind(3, filter.result);
}

constexpr const char* kWhere = " WHERE (?1 = '' OR started_at >= ?1) AND (?2 = '' OR port = ?2)"
                               " AND (?3 = '' OR (CASE WHEN ended_at IS NULL THEN 'interrupted' ELSE result END) = ?3)";

}  // namespace

std::unique_ptr<RecordStore> RecordStore::Open(const std::string& path, Access access, std::string* error) {
    sqlite3* db = nullptr;
    const int flags = access == Access::Write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    int status = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_FULLMUTEX, nullptr);
    std::unique_ptr<RecordStore> store(new RecordStore(db, path));
    std::string reason;
    if (status != SQLITE_OK) {
        reason = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(status);
    } else {
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        sqlite3_extended_result_codes(db, 1);
        // WAL lets readers and several writers' turns overlap; FULL syncs every commit, so
        // a row reported written survives a power cut.
        bool ready = access == Access::Read ||
                     (Exec(db, "PRAGMA journal_mode = WAL", &reason) && Exec(db, "PRAGMA synchronous = FULL", &reason));
        if (ready) ready = CheckSchema(db, access, &reason);
        // A write lock taken and given back proves the file, its folder and its journal writable.
        if (ready && access == Access::Write) ready = Exec(db, "BEGIN IMMEDIATE; COMMIT;", &reason);
        if (ready) return store;
    }
    *error = path + ": " + reason;
    return nullptr;
}

RecordStore::~RecordStore() { sqlite3_close(db_); }

bool RecordStore::Begin(Row* row, std::string* error) {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement insert(db_,
                     "INSERT INTO loads(started_at, station, port, operation, image, image_size, image_sha256, baud, "
                     "bytes_sent, result, reason, unit, varnex_version) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)");
    if (insert.Ok()) {
        insert.Bind(1, row->startedAt);
        insert.Bind(2, row->station);
        insert.Bind(3, row->port);
        insert.Bind(4, row->operation);
        insert.Bind(5, row->image);
        insert.Bind(6, static_cast<int64_t>(row->imageSize));
        insert.Bind(7, row->imageSha256);
        insert.Bind(8, static_cast<int64_t>(row->baud));
        insert.Bind(9, static_cast<int64_t>(row->bytesSent));
        insert.Bind(10, row->result);
        insert.Bind(11, row->reason);
        insert.Bind(12, static_cast<int64_t>(row->unit));
        insert.Bind(13, row->version);
        if (insert.Step() == SQLITE_DONE) {
            row->id = sqlite3_last_insert_rowid(db_);
            return true;
        }
    }
    *error = sqlite3_errmsg(db_);
    return false;
}

bool RecordStore::Complete(const Row& row, std::string* error) {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement update(db_, "UPDATE loads SET ended_at = ?, bytes_sent = ?, result = ?, reason = ?, duration_ms = ? "
                          "WHERE id = ?");
    if (update.Ok()) {
        update.Bind(1, row.endedAt);
        update.Bind(2, static_cast<int64_t>(row.bytesSent));
        update.Bind(3, row.result);
        update.Bind(4, row.reason);
        update.Bind(5, static_cast<int64_t>(row.durationMs));
        update.Bind(6, row.id);
        if (update.Step() == SQLITE_DONE) {
            if (sqlite3_changes(db_) == 1) return true;
            *error = "row " + std::to_string(row.id) + " is missing";
            return false;
        }
    }
    *error = sqlite3_errmsg(db_);
    return false;
}

bool RecordStore::List(const Filter& filter, std::vector<Row>* rows, std::string* error) {
    std::lock_guard<std::mutex> hold(mutex_);
    std::string sql = std::string("SELECT ") + kColumns + " FROM loads" + kWhere + " ORDER BY started_at, id";
    Statement select(db_, sql.c_str());
    if (!select.Ok()) {
        *error = path_ + ": " + sqlite3_errmsg(db_);
        return false;
    }
    BindFilter(select, filter);
    int status;
    while ((status = select.Step()) == SQLITE_ROW) {
        Row row;
        row.id = select.Int(0);
        row.startedAt = select.Text(1);
        row.endedAt = select.Text(2);
        row.station = select.Text(3);
        row.port = select.Text(4);
        row.operation = select.Text(5);
        row.image = select.Text(6);
        row.imageSize = static_cast<uint64_t>(select.Int(7));
        row.imageSha256 = select.Text(8);
        row.baud = static_cast<uint32_t>(select.Int(9));
        row.bytesSent = static_cast<uint64_t>(select.Int(10));
        // A row never completed reads interrupted, whatever it was begun with.
        row.result = row.endedAt.empty() ? kInterrupted : select.Text(11);
        row.reason = select.Text(12);
        row.durationMs = static_cast<uint64_t>(select.Int(13));
        row.unit = static_cast<uint32_t>(select.Int(14));
        row.version = select.Text(15);
        rows->push_back(std::move(row));
    }
    if (status == SQLITE_DONE) return true;
    *error = path_ + ": " + sqlite3_errmsg(db_);
    return false;
}

bool RecordStore::Summarise(const Filter& filter, std::vector<DaySummary>* days, std::string* error) {
    std::vector<Row> rows;
    if (!List(filter, &rows, error)) return false;
    struct Group {
        DaySummary summary;
        std::vector<uint64_t> durations;
    };
    std::map<std::pair<std::string, std::string>, Group> groups;
    for (const Row& row : rows) {
        Group& group = groups[{row.startedAt.substr(0, 10), row.port}];
        group.summary.day = row.startedAt.substr(0, 10);
        group.summary.port = row.port;
        if (row.result == kConfirmed || row.result == kDone) {
            ++group.summary.loaded;
            group.durations.push_back(row.durationMs);
        } else if (row.result != kStopped) {
            ++group.summary.failed;
        }
    }
    for (auto& [key, group] : groups) {
        std::vector<uint64_t>& d = group.durations;
        if (!d.empty()) {
            std::sort(d.begin(), d.end());
            size_t middle = d.size() / 2;
            group.summary.medianMs = d.size() % 2 == 1 ? d[middle] : (d[middle - 1] + d[middle]) / 2;
        }
        days->push_back(group.summary);
    }
    return true;
}

std::string IsoUtc(int64_t unixMs) {
    // Days to a civil date (Howard Hinnant's algorithm): no gmtime, which differs per platform.
    constexpr int64_t kMsPerDay = 86400000;
    int64_t days = unixMs >= 0 ? unixMs / kMsPerDay : (unixMs - kMsPerDay + 1) / kMsPerDay;
    int64_t msOfDay = unixMs - days * kMsPerDay;
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];  // room for any 64-bit value, so the compiler sees no truncation
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(msOfDay / 3600000),
                  static_cast<long long>(msOfDay / 60000 % 60), static_cast<long long>(msOfDay / 1000 % 60),
                  static_cast<long long>(msOfDay % 1000));
    return text;
}

std::string NowIsoUtc() {
    using namespace std::chrono;
    return IsoUtc(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

}  // namespace records
