// The records file (see RecordStore.h): the connection's settings and checks at open, and the
// rows in and out.
#include "records/RecordStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <thread>
#include <tuple>
#include <utility>

#include <sqlite3.h>

#include "records/Sqlite.h"

namespace records {

namespace {

// Between two tries at the journal mode while another process holds the file.
constexpr int kBusyRetryMs = 10;

const Schema kSchema{Columns(), kSchemaVersion};

bool Busy(int status) { return (status & 0xff) == SQLITE_BUSY || (status & 0xff) == SQLITE_LOCKED; }

// Puts the file in WAL mode, waiting as any write waits while another process holds the file
// (a station creating it, say): SQLite answers a change of journal mode with "busy" at once,
// without its busy handler.
bool UseWal(sqlite3* db, std::string* error) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    for (;;) {
        Statement pragma(db, "PRAGMA journal_mode = WAL");
        const int status = pragma.Ok() ? pragma.Step() : SQLITE_ERROR;
        if (status == SQLITE_ROW) {
            const std::string mode = pragma.Text(0);
            if (mode == "wal") return true;
            *error = "it cannot be kept in WAL mode (its journal stays " + mode + ")";
            return false;
        }
        if (!Busy(status) || std::chrono::steady_clock::now() >= deadline) {
            *error = sqlite3_errmsg(db);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kBusyRetryMs));
    }
}

void BindFilter(Statement& statement, const Filter& filter) {
    statement.Bind(1, filter.since);
    statement.Bind(2, filter.port);
    statement.Bind(3, filter.result);
    statement.Bind(4, filter.station);
    statement.Bind(5, filter.serial);
}

// The filter's condition on a file of fileVersion: a file older than the serials holds none.
std::string Where(int64_t fileVersion) {
    const std::string serial = fileVersion >= 4 ? "serial" : "''";
    return " WHERE (?1 = '' OR started_at >= ?1) AND (?2 = '' OR port = ?2)"
           " AND (?3 = '' OR (CASE WHEN ended_at IS NULL THEN 'interrupted' ELSE result END) = ?3)"
           " AND (?4 = '' OR station = ?4) AND (?5 = '' OR " +
           serial + " = ?5)";
}

constexpr const char* kNoteForForwarding = "INSERT OR REPLACE INTO outbox(row_id) VALUES (?)";

// One row as the select list reads it, from its first value on.
Row ReadRow(Statement& select) {
    const std::vector<Column>& columns = kSchema.columns;
    Row row;
    for (size_t i = 0; i < columns.size(); ++i) {
        const int at = static_cast<int>(i);
        if (columns[i].type == ColumnType::Text) {
            columns[i].set(&row, select.Text(at));
        } else {
            columns[i].set(&row, select.Int(at));
        }
    }
    // A row never completed reads interrupted, whatever it was begun with.
    if (row.endedAt.empty()) row.result = kInterrupted;
    return row;
}

// Binds a row's columns that the filter picks, from the first place on; the next free place.
template <typename Pick>
int BindColumns(Statement& statement, const Row& row, Pick pick) {
    int at = 1;
    for (const Column& column : kSchema.columns) {
        if (!pick(column)) continue;
        const Value value = column.get(row);
        if (const std::string* text = std::get_if<std::string>(&value)) {
            statement.Bind(at++, *text);
        } else {
            statement.Bind(at++, std::get<int64_t>(value));
        }
    }
    return at;
}

}  // namespace

std::unique_ptr<RecordStore> RecordStore::Open(const std::string& path, Access access, std::string* error) {
    sqlite3* db = nullptr;
    const int flags = access == Access::Write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    int status = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_FULLMUTEX, nullptr);
    std::unique_ptr<RecordStore> store(new RecordStore(db, path));
    std::string reason;
    if (status != SQLITE_OK) {
        reason = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(status);
    } else if (store->Prepare(access, &reason)) {
        return store;
    }
    *error = path + ": " + reason;
    return nullptr;
}

bool RecordStore::Prepare(Access access, std::string* error) {
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db_, 1);
    if (access == Access::Read) {
        Transaction snapshot(db_, Transaction::Kind::Read, error);
        if (!snapshot.Begun() || !CheckForReading(db_, kSchema, &fileVersion_, error)) return false;
    } else {
        // SQLite opens a file its user may not write read-only, without a word, and a write
        // lock taken and given back does not notice: the first row would be refused.
        if (sqlite3_db_readonly(db_, "main") == 1) {
            *error = "it is read-only";
            return false;
        }
        // WAL lets readers and several writers' turns overlap; FULL syncs every commit, so a
        // row reported written survives a power cut.
        if (!UseWal(db_, error) || !Exec(db_, "PRAGMA synchronous = FULL", error)) return false;
        // The schema is decided under the write lock, so that of several processes opening a
        // new file at once the first creates it and the others find it; the lock taken also
        // proves the file, its folder and its journal writable.
        Transaction write(db_, Transaction::Kind::Write, error);
        if (!write.Begun() || !CreateOrUpgrade(db_, kSchema, error) || !write.Commit(error)) return false;
    }
    insertSql_ = InsertSql(kSchema);
    completeSql_ = CompleteSql(kSchema);
    selectSql_ = SelectSql(kSchema, fileVersion_);
    selectList_ = SelectList(kSchema, fileVersion_);
    where_ = Where(fileVersion_);
    return true;
}

RecordStore::~RecordStore() { sqlite3_close(db_); }

bool RecordStore::Begin(Row* row, std::string* error) {
    std::lock_guard<std::mutex> hold(mutex_);
    // The row and its note for the server in one transaction, so neither is ever without the
    // other; the write lock taken first, so a busy file is waited for here, not halfway.
    Transaction transaction(db_, Transaction::Kind::Write, error);
    if (!transaction.Begun()) return false;
    // Stamped under the file's write lock, where the id is given: ids follow start times even
    // with many ports (and processes) beginning rows at once.
    if (row->startedAt.empty()) row->startedAt = NowIsoUtc();
    Statement insert(db_, insertSql_);
    if (!insert.Ok()) {
        *error = sqlite3_errmsg(db_);
        return false;
    }
    BindColumns(insert, *row, WrittenAtStart);
    if (insert.Step() != SQLITE_DONE) {
        *error = sqlite3_errmsg(db_);
        return false;
    }
    const int64_t id = sqlite3_last_insert_rowid(db_);
    if (!Note(id, error) || !transaction.Commit(error)) return false;
    row->id = id;
    return true;
}

bool RecordStore::Complete(const Row& row, std::string* error) {
    std::lock_guard<std::mutex> hold(mutex_);
    Transaction transaction(db_, Transaction::Kind::Write, error);
    if (!transaction.Begun()) return false;
    Statement update(db_, completeSql_);
    if (!update.Ok()) {
        *error = sqlite3_errmsg(db_);
        return false;
    }
    const int idAt = BindColumns(update, row, WrittenAtEnd);
    update.Bind(idAt, row.id);
    if (update.Step() != SQLITE_DONE) {
        *error = sqlite3_errmsg(db_);
        return false;
    }
    if (sqlite3_changes(db_) != 1) {
        *error = "row " + std::to_string(row.id) + " is missing";
        return false;
    }
    return Note(row.id, error) && transaction.Commit(error);
}

bool RecordStore::Note(int64_t rowId, std::string* error) {
    Statement note(db_, kNoteForForwarding);
    if (note.Ok()) {
        note.Bind(1, rowId);
        if (note.Step() == SQLITE_DONE) return true;
    }
    *error = sqlite3_errmsg(db_);
    return false;
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
    const int seqAt = static_cast<int>(kSchema.columns.size());
    Statement select(db_,
                     "SELECT " + selectList_ +
                         ", outbox.seq FROM outbox JOIN loads ON loads.id = outbox.row_id ORDER BY outbox.seq LIMIT ?");
    if (!select.Ok()) {
        *error = path_ + ": " + sqlite3_errmsg(db_);
        return false;
    }
    select.Bind(1, static_cast<int64_t>(most));
    int status;
    while ((status = select.Step()) == SQLITE_ROW) {
        rows->push_back(ReadRow(select));
        *lastNote = select.Int(seqAt);
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

bool RecordStore::List(const Filter& filter, std::vector<Row>* rows, std::string* error) {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement select(db_, selectSql_ + where_ + " ORDER BY started_at, id");
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

bool RecordStore::Page(const Filter& filter, int64_t before, size_t limit, std::vector<Row>* rows, std::string* error) {
    std::lock_guard<std::mutex> hold(mutex_);
    // By id, the table's own key: no sort, and the next page starts below the last id seen,
    // whatever order the rows' start times are in.
    Statement select(db_, selectSql_ + where_ + " AND (?6 = 0 OR id < ?6) ORDER BY id DESC LIMIT ?7");
    if (!select.Ok()) {
        *error = path_ + ": " + sqlite3_errmsg(db_);
        return false;
    }
    BindFilter(select, filter);
    select.Bind(6, before);
    select.Bind(7, static_cast<int64_t>(limit));
    int status;
    while ((status = select.Step()) == SQLITE_ROW) rows->push_back(ReadRow(select));
    if (status == SQLITE_DONE) return true;
    *error = path_ + ": " + sqlite3_errmsg(db_);
    return false;
}

std::string RecordStore::Setting(const std::string& name) {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement pragma(db_, "PRAGMA " + name);
    return pragma.Ok() && pragma.Step() == SQLITE_ROW ? pragma.Text(0) : std::string();
}

bool RecordStore::Summarise(const Filter& filter, std::vector<DaySummary>* days, std::string* error) {
    std::vector<Row> rows;
    if (!List(filter, &rows, error)) return false;
    *days = SummariseRows(rows);
    return true;
}

std::vector<DaySummary> SummariseRows(const std::vector<Row>& rows) {
    std::vector<DaySummary> days;
    struct Group {
        DaySummary summary;
        std::vector<uint64_t> durations;
    };
    std::map<std::tuple<std::string, std::string, std::string>, Group> groups;
    std::set<std::string> seen;  // serials whose first load has been counted
    for (const Row& row : rows) {
        Group& group = groups[{row.startedAt.substr(0, 10), row.station, row.port}];
        group.summary.day = row.startedAt.substr(0, 10);
        group.summary.station = row.station;
        group.summary.port = row.port;
        // The rows come oldest first, so a serial's first row is its unit's first load.
        if (!row.serial.empty() && seen.insert(row.serial).second) {
            ++group.summary.units;
            if (row.result == kConfirmed || row.result == kDone) ++group.summary.firstPass;
        }
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
        days.push_back(group.summary);
    }
    return days;
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
