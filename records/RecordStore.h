// The records of loads in a SQLite file: one row per unit, written when its load starts
// (reading "interrupted" until completed, so that a power cut never leaves a load without a
// row) and completed when it ends. WAL journal, full synchronous writes and a busy timeout,
// so that several stations (processes) on one machine and one file all write every row;
// WAL's shared memory does not reach across machines, so never a file on a network share.
// The schema's version is kept in the file, checked at open, and an older one upgraded when
// opened for writing. One store may be shared by several threads.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "records/RecordColumns.h"
#include "records/RecordSchema.h"
#include "records/ShiftFigures.h"

struct sqlite3;

namespace records {

inline constexpr const char* kDefaultFile = "varnex-records.db";
// Another station holding the file's write lock is waited for this long.
inline constexpr int kBusyTimeoutMs = 30000;

struct Filter {
    std::string since;  // rows started on or after this date or time (ISO 8601 prefix)
    std::string port;
    std::string result;
    std::string station;
    std::string serial = {};
};

// Per day (UTC), station and port: units loaded, failed, and the loaded units' median duration;
// and of the units with a serial whose first load was here, how many that load confirmed.
struct DaySummary {
    std::string day;
    std::string station;
    std::string port;
    uint64_t loaded = 0;
    uint64_t failed = 0;
    uint64_t medianMs = 0;
    uint64_t units = 0;      // serials first loaded here
    uint64_t firstPass = 0;  // of those, confirmed at that first load
    // firstPass over units; -1 when no unit here had a serial.
    double FirstPassYield() const { return units == 0 ? -1.0 : static_cast<double>(firstPass) / units; }
};

enum class Access { Write, Read };

class RecordStore {
public:
    // Opens (Write: creating it if missing) and checks the file: a SQLite file of ours, of a
    // schema this program knows, and for Write one this user can write now (its folder, its
    // journal and the file itself). Any number of processes may create one new file at once.
    // Null with *error set (naming the file and the reason) otherwise.
    static std::unique_ptr<RecordStore> Open(const std::string& path, Access access, std::string* error);
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Inserts the row as it starts (its result as given, normally interrupted) and sets row->id;
    // an empty startedAt is stamped now, under the lock that gives the id.
    bool Begin(Row* row, std::string* error);
    // Writes the row's end: ended_at, bytes, result, reason, duration. A row that is not in
    // the file is an error naming it.
    bool Complete(const Row& row, std::string* error);

    // The forwarding to the line's server. Every Begin and Complete notes its row in the same
    // transaction; Pending gives up to `most` noted rows in the order they were noted (each in
    // its latest state) and the last note's number, which MarkForwarded clears up to once the
    // server has committed them.
    bool JournalId(std::string* id, std::string* error);
    bool Pending(size_t most, std::vector<Row>* rows, int64_t* lastNote, std::string* error);
    bool MarkForwarded(int64_t lastNote, std::string* error);
    bool PendingCount(uint64_t* count, std::string* error);

    // Rows that pass the filter, oldest first.
    bool List(const Filter& filter, std::vector<Row>* rows, std::string* error);
    // At most `limit` rows that pass the filter, newest (highest id) first, only those below
    // the id `before` (0: from the newest): a page never reads more rows than it answers.
    bool Page(const Filter& filter, int64_t before, size_t limit, std::vector<Row>* rows, std::string* error);
    // The figures of one station's shift since `since`, from its newest `most` rows at most
    // (see ShiftFigures.h).
    bool Shift(const std::string& station, const std::string& since, ShiftFigures* figures, std::string* error,
               size_t most = kShiftRowsMost);
    bool Summarise(const Filter& filter, std::vector<DaySummary>* days, std::string* error);

    const std::string& Path() const { return path_; }
    // A setting of the store's own connection as SQLite reports it (PRAGMA NAME), empty when
    // it cannot: how durable its writes are is a property of the connection, not the file.
    std::string Setting(const std::string& name);

private:
    RecordStore(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    bool Prepare(Access access, std::string* error);
    bool Note(int64_t rowId, std::string* error);  // with the mutex held, inside the row's transaction
    std::mutex mutex_;
    sqlite3* db_;
    std::string path_;
    int64_t fileVersion_ = kSchemaVersion;
    std::string insertSql_;
    std::string completeSql_;
    std::string selectSql_;
    std::string selectList_;
    std::string where_;
};

// Per day (UTC), station and port, from rows however they were read (a file or the server).
std::vector<DaySummary> SummariseRows(const std::vector<Row>& rows);

// Unix milliseconds as "2026-12-08T06:18:09.123Z".
std::string IsoUtc(int64_t unixMs);
// The time now, in that form.
std::string NowIsoUtc();

}  // namespace records
