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

// Version 2: the journal's own id, made once when the file is made (so a station whose file was
// replaced never collides with its old rows on the server), and the outbox: the rows whose
// start or end the server has not yet taken, in the order they happened. A row noted again
// before it went moves to the end, so it goes once with its latest state.
constexpr const char* kVersion2 = R"sql(
CREATE TABLE journal(id TEXT NOT NULL);
INSERT INTO journal(id) SELECT lower(substr(h, 1, 8) || '-' || substr(h, 9, 4) || '-4' || substr(h, 14, 3) || '-' ||
    substr('89ab', 1 + (abs(random()) % 4), 1) || substr(h, 18, 3) || '-' || substr(h, 21, 12))
    FROM (SELECT hex(randomblob(16)) AS h);
CREATE TABLE outbox(seq INTEGER PRIMARY KEY AUTOINCREMENT, row_id INTEGER NOT NULL UNIQUE);
)sql";

constexpr const char* kNoteForForwarding = "INSERT OR REPLACE INTO outbox(row_id) VALUES (?)";

constexpr const char* kColumns =
    "id, started_at, coalesce(ended_at, ''), station, port, operation, image, image_size, image_sha256, baud, "
    "bytes_sent, result, reason, coalesce(duration_ms, 0), unit, varnex_version";
constexpr int kColumnCount = 16;

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

// A write transaction that rolls back unless committed; taken before the first write, so a
// busy file is waited for here rather than failing halfway.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db_(db) {
        began_ = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~Transaction() {
        if (began_ && !committed_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool Began() const { return began_; }
    bool Commit() {
        committed_ = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
        return committed_;
    }

private:
    sqlite3* db_;
    bool began_ = false;
    bool committed_ = false;
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

// Brings a file of an older version to this one, in one transaction that decides again inside
// it (another station may have upgraded the file meanwhile). A file only read is read as it is.
bool Upgrade(sqlite3* db, std::string* error) {
    int64_t version = 0;
    if (!Exec(db, "BEGIN IMMEDIATE", error)) return false;
    bool ok = ReadInt(db, "PRAGMA user_version", &version, error);
    if (ok && version < 2) ok = Exec(db, kVersion2, error);
    if (ok && version < kSchemaVersion)
        ok = Exec(db, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str(), error);
    if (ok && Exec(db, "COMMIT", error)) return true;
    std::string ignored;
    Exec(db, "ROLLBACK", &ignored);
    return false;
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
        std::string sql = std::string("BEGIN IMMEDIATE;") + kSchema + kVersion2 +
                          "PRAGMA application_id = " + std::to_string(kApplicationId) +
                          "; PRAGMA user_version = " + std::to_string(kSchemaVersion) + "; COMMIT;";
        if (Exec(db, sql.c_str(), error)) return true;
        std::string ignored;
        Exec(db, "ROLLBACK", &ignored);
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
    if (version < kSchemaVersion) return access == Access::Write ? Upgrade(db, error) : true;
    return true;
}

// One row as kColumns reads it.
Row ReadRow(Statement& select) {
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
    return row;
}

void BindFilter(Statement& statement, const Filter& filter) {
    statement.Bind(1, filter.since);
    statement.Bind(2, filter.port);
    statement.Bind(3, filter.result);
    statement.Bind(4, filter.station);
}

constexpr const char* kWhere = " WHERE (?1 = '' OR started_at >= ?1) AND (?2 = '' OR port = ?2)"
                               " AND (?3 = '' OR (CASE WHEN ended_at IS NULL THEN 'interrupted' ELSE result END) = ?3)"
                               " AND (?4 = '' OR station = ?4)";

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
        Transaction transaction(db_);
        if (transaction.Began() && insert.Step() == SQLITE_DONE) {
            row->id = sqlite3_last_insert_rowid(db_);
            if (Note(row->id) && transaction.Commit()) return true;
        }
        *error = sqlite3_errmsg(db_);  // before the rollback replaces it
        return false;
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
        Transaction transaction(db_);
        if (transaction.Began() && update.Step() == SQLITE_DONE) {
            if (sqlite3_changes(db_) != 1) {
                *error = "row " + std::to_string(row.id) + " is missing";
                return false;
            }
            if (Note(row.id) && transaction.Commit()) return true;
        }
        *error = sqlite3_errmsg(db_);  // before the rollback replaces it
        return false;
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
    while ((status = select.Step()) == SQLITE_ROW) rows->push_back(ReadRow(select));
    if (status == SQLITE_DONE) return true;
    *error = path_ + ": " + sqlite3_errmsg(db_);
    return false;
}

bool RecordStore::Note(int64_t rowId) {
    Statement note(db_, kNoteForForwarding);
    if (!note.Ok()) return false;
    note.Bind(1, rowId);
    return note.Step() == SQLITE_DONE;
}

bool RecordStore::JournalId(std::string* id, std::string* error) {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement select(db_, "SELECT id FROM journal");
    if (select.Ok() && select.Step() == SQLITE_ROW) {
        *id = select.Text(0);
        return true;
    }
    *error = path_ + ": " + sqlite3_errmsg(db_);
    return false;
}

bool RecordStore::Pending(size_t most, std::vector<Row>* rows, int64_t* lastNote, std::string* error) {
    std::lock_guard<std::mutex> hold(mutex_);
    rows->clear();
    const std::string sql =
        std::string("SELECT ") + kColumns +
        ", outbox.seq FROM outbox JOIN loads ON loads.id = outbox.row_id ORDER BY outbox.seq LIMIT ?";
    Statement select(db_, sql.c_str());
    if (!select.Ok()) {
        *error = path_ + ": " + sqlite3_errmsg(db_);
        return false;
    }
    select.Bind(1, static_cast<int64_t>(most));
    int status;
    while ((status = select.Step()) == SQLITE_ROW) {
        rows->push_back(ReadRow(select));
        *lastNote = select.Int(kColumnCount);
    }
    if (status == SQLITE_DONE) return true;
    *error = path_ + ": " + sqlite3_errmsg(db_);
    return false;
}

bool RecordStore::MarkForwarded(int64_t lastNote, std::string* error) {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement erase(db_, "DELETE FROM outbox WHERE seq <= ?");
    if (erase.Ok()) {
        erase.Bind(1, lastNote);
        if (erase.Step() == SQLITE_DONE) return true;
    }
    *error = path_ + ": " + sqlite3_errmsg(db_);
    return false;
}

bool RecordStore::PendingCount(uint64_t* count, std::string* error) {
    std::lock_guard<std::mutex> hold(mutex_);
    int64_t value = 0;
    if (!ReadInt(db_, "SELECT count(*) FROM outbox", &value, error)) {
        *error = path_ + ": " + *error;
        return false;
    }
    *count = static_cast<uint64_t>(value);
    return true;
}

bool RecordStore::Summarise(const Filter& filter, std::vector<DaySummary>* days, std::string* error) {
    std::vector<Row> rows;
    if (!List(filter, &rows, error)) return false;
    *days = SummariseRows(rows);
    return true;
}

std::vector<DaySummary> SummariseRows(const std::vector<Row>& rows) {
    std::vector<DaySummary> summaries;
    std::vector<DaySummary>* days = &summaries;
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
    return summaries;
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
