// The records of loads in a SQLite file: one row per unit, written when its load starts
// (reading "interrupted" until completed, so that a power cut never leaves a load without a
// row) and completed when it ends. WAL journal, full synchronous writes and a busy timeout,
// so that several stations (processes) on one file all write every row. The schema's version
// is kept in the file and checked at open. One store may be shared by several threads.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;

namespace records {

inline constexpr const char* kDefaultFile = "varnex-records.db";
inline constexpr int kSchemaVersion = 2;  // 2: the journal's id and the outbox
// Another station holding the file's write lock is waited for this long.
inline constexpr int kBusyTimeoutMs = 30000;

// The results a row can read.
inline constexpr const char* kConfirmed = "confirmed";             // loaded and confirmed by the unit
inline constexpr const char* kDone = "done";                       // a single download or erase that ended well
inline constexpr const char* kFailed = "failed";                   // the reason says why
inline constexpr const char* kNoConfirmation = "no_confirmation";  // the unit never dropped CTS
inline constexpr const char* kStopped = "stopped";                 // Ctrl-C
inline constexpr const char* kInterrupted = "interrupted";         // never completed (power cut, kill)

struct Row {
    int64_t id = 0;
    std::string startedAt;  // UTC, ISO 8601 with milliseconds
    std::string endedAt;    // empty until completed
    std::string station;
    std::string port;
    std::string operation;  // bootloader, software, image, erase
    std::string image;      // the image's name (empty for an erase)
    uint64_t imageSize = 0;
    std::string imageSha256;
    uint32_t baud = 0;
    uint64_t bytesSent = 0;
    std::string result = kInterrupted;
    std::string reason;  // in the words the operator saw
    uint64_t durationMs = 0;
    uint32_t unit = 0;  // the unit's number on its port
    std::string version;
};

struct Filter {
    std::string since;  // rows started on or after this date or time (ISO 8601 prefix)
    std::string port;
    std::string result;
    std::string station;
};

// Per day (UTC) and port: units loaded, failed, and the loaded units' median duration.
struct DaySummary {
    std::string day;
    std::string port;
    uint64_t loaded = 0;
    uint64_t failed = 0;
    uint64_t medianMs = 0;
};

enum class Access { Write, Read };

class RecordStore {
public:
    // Opens (Write: creating it if missing) and checks the file: a SQLite file of ours, of a
    // schema this program knows, and for Write one it can write now. Null with *error set
    // (naming the file and the reason) otherwise.
    static std::unique_ptr<RecordStore> Open(const std::string& path, Access access, std::string* error);
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Inserts the row as it starts (its result as given, normally interrupted) and sets row->id.
    bool Begin(Row* row, std::string* error);
    // Writes the row's end: ended_at, bytes, result, reason, duration.
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
    bool Summarise(const Filter& filter, std::vector<DaySummary>* days, std::string* error);

    const std::string& Path() const { return path_; }

private:
    RecordStore(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    bool Note(int64_t rowId);  // with the mutex held, inside the row's transaction
    std::mutex mutex_;
    sqlite3* db_;
    std::string path_;
};

// Per day (UTC) and port, from rows however they were read.
std::vector<DaySummary> SummariseRows(const std::vector<Row>& rows);

// Unix milliseconds as "2026-12-08T06:18:09.123Z".
std::string IsoUtc(int64_t unixMs);
// The time now, in that form.
std::string NowIsoUtc();

}  // namespace records
