// The records file against a real SQLite file: a row per load with every field, a row never
// completed reading interrupted (also after its writer was killed), the connection's syncing,
// two processes writing one file at once and several creating one new file at once, the
// checks at open (a read-only file tried as another user), a failure's first reason kept, the
// upgrade of an older file, a write that fails for want of room, the summary.
#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "records/RecordSchema.h"
#include "RecordsFixtures.h"
#include "records/RecordStore.h"

namespace {

namespace fs = std::filesystem;
using records::Access;
using records::RecordStore;

using fixture::Folder;
using fixture::Sample;

std::unique_ptr<RecordStore> OpenOrFail(const std::string& path, Access access = Access::Write) {
    std::string error;
    auto store = RecordStore::Open(path, access, &error);
    EXPECT_TRUE(store) << error;
    return store;
}

std::string OpenError(const std::string& path, Access access = Access::Write) {
    std::string error;
    auto store = RecordStore::Open(path, access, &error);
    return store ? "" : error;
}

// Runs what in a child process (whose limits and user it may change) and gives back the text
// it returned.
std::string InChild(const std::function<std::string()>& what) {
    int ends[2];
    if (pipe(ends) != 0) return "no pipe";
    pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        const std::string text = what();
        if (write(ends[1], text.data(), text.size()) < 0) _exit(1);
        _exit(0);
    }
    close(ends[1]);
    std::string text;
    char buffer[512];
    ssize_t got;
    while ((got = read(ends[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return text;
}

// The first line of a file, or "" when there is none.
std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

TEST(RecordStore, ARowBegunAndCompletedKeepsEveryFieldAndOneNeverCompletedReadsInterrupted) {
    Folder folder;
    auto store = OpenOrFail(folder.File());
    records::Row done = Sample("/dev/ttyUSB0", 1);
    std::string error;
    ASSERT_TRUE(store->Begin(&done, &error)) << error;
    records::Row cut = Sample("/dev/ttyUSB1", 7);
    cut.startedAt = "2026-12-08T06:19:00.000Z";
    ASSERT_TRUE(store->Begin(&cut, &error)) << error;
    done.endedAt = "2026-12-08T06:18:33.456Z";
    done.bytesSent = 249008;
    done.result = records::kConfirmed;
    done.durationMs = 24333;
    ASSERT_TRUE(store->Complete(done, &error)) << error;
    records::Row ghost = done;
    ghost.id = 4711;
    EXPECT_FALSE(store->Complete(ghost, &error));
    EXPECT_NE(error.find("4711"), std::string::npos) << error;

    std::vector<records::Row> rows;
    ASSERT_TRUE(store->List({}, &rows, &error)) << error;
    ASSERT_EQ(rows.size(), 2u);
    const records::Row& r = rows[0];
    EXPECT_EQ(r.startedAt, done.startedAt);
    EXPECT_EQ(r.endedAt, done.endedAt);
    EXPECT_EQ(r.station, "bench-3");
    EXPECT_EQ(r.port, "/dev/ttyUSB0");
    EXPECT_EQ(r.operation, "bootloader");
    EXPECT_EQ(r.image, "BOOTLOADER");
    EXPECT_EQ(r.imageSize, 249008u);
    EXPECT_EQ(r.imageSha256, std::string(64, 'a'));
    EXPECT_EQ(r.baud, 115200u);
    EXPECT_EQ(r.bytesSent, 249008u);
    EXPECT_EQ(r.result, "confirmed");
    EXPECT_EQ(r.durationMs, 24333u);
    EXPECT_EQ(r.unit, 1u);
    EXPECT_EQ(r.version, "1.2.3");
    EXPECT_EQ(rows[1].result, "interrupted");
    EXPECT_EQ(rows[1].unit, 7u);

    rows.clear();
    ASSERT_TRUE(store->List({"", "", "interrupted", ""}, &rows, &error));
    ASSERT_EQ(rows.size(), 1u);
    rows.clear();
    ASSERT_TRUE(store->List({"2026-12-08T06:18:30", "", "", ""}, &rows, &error));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].port, "/dev/ttyUSB1");
}

// A reader kept open (the web board's) sees every row written since it opened: no read of
// it leaves a snapshot behind.
TEST(RecordStore, AReaderKeptOpenSeesTheRowsWrittenAfterIt) {
    Folder folder;
    auto writer = OpenOrFail(folder.File());
    records::Row first = Sample("/dev/ttyUSB0", 1);
    std::string error;
    ASSERT_TRUE(writer->Begin(&first, &error)) << error;
    auto reader = OpenOrFail(folder.File(), Access::Read);
    std::vector<records::Row> rows;
    ASSERT_TRUE(reader->List({}, &rows, &error)) << error;
    EXPECT_EQ(rows.size(), 1u);
    records::Row second = Sample("/dev/ttyUSB1", 2);
    ASSERT_TRUE(writer->Begin(&second, &error)) << error;
    rows.clear();
    ASSERT_TRUE(reader->List({}, &rows, &error)) << error;
    EXPECT_EQ(rows.size(), 2u);
}

TEST(RecordStore, TheFileIsInWalWithItsSchemaVersionAndAKilledWriterLeavesAnInterruptedRowAndASoundFile) {
    Folder folder;
    const std::string path = folder.File();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string error;
        auto store = RecordStore::Open(path, Access::Write, &error);
        records::Row row = Sample("/dev/ttyUSB0", 1);
        if (!store || !store->Begin(&row, &error)) _exit(1);
        kill(getpid(), SIGKILL);  // mid-load: the row is never completed
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    auto text = [db](const char* sql) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
        std::string value;
        if (sqlite3_step(statement) == SQLITE_ROW)
            value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
        return value;
    };
    EXPECT_EQ(text("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(text("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(text("PRAGMA user_version"), std::to_string(records::kSchemaVersion));
    EXPECT_EQ(text("SELECT result FROM loads"), "interrupted");
    sqlite3_close(db);
}

// Each commit synced (FULL): with NORMAL, WAL mode may lose rows already reported written
// when the power goes. A setting of the connection, so read on the store's own.
TEST(RecordStore, TheStoresConnectionSyncsEveryCommit) {
    Folder folder;
    constexpr const char* kFull = "2";
    EXPECT_EQ(OpenOrFail(folder.File())->Setting("synchronous"), kFull);
}

TEST(RecordStore, TwoProcessesWritingOneFileAtOnceLoseNoRow) {
    Folder folder;
    const std::string path = folder.File();
    OpenOrFail(path);  // created once, so both writers find the schema
    constexpr int kRowsEach = 150;
    std::vector<pid_t> children;
    for (int writer = 0; writer < 2; ++writer) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::string error;
            auto store = RecordStore::Open(path, Access::Write, &error);
            if (!store) _exit(2);
            for (int i = 0; i < kRowsEach; ++i) {
                records::Row row = Sample("/dev/ttyUSB" + std::to_string(writer), static_cast<uint32_t>(i + 1));
                row.startedAt.clear();  // stamped by the store, where the id is given
                if (!store->Begin(&row, &error)) _exit(3);
                row.endedAt = row.startedAt;
                row.result = records::kConfirmed;
                if (!store->Complete(row, &error)) _exit(4);
            }
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer ended with " << status;
    }
    std::vector<records::Row> rows;
    std::string error;
    ASSERT_TRUE(OpenOrFail(path, Access::Read)->List({"", "", "confirmed", ""}, &rows, &error)) << error;
    EXPECT_EQ(rows.size(), 2u * kRowsEach);
    // Ids follow start times across both writers.
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_FALSE(rows[i].startedAt.empty());
        if (i > 0) {
            EXPECT_LE(rows[i - 1].startedAt, rows[i].startedAt) << "row " << rows[i].id;
        }
    }
}

// Stations started together on a file that does not exist yet: every one creates or finds
// the schema, none is refused, and every row of every one is kept.
TEST(RecordStore, ProcessesCreatingOneNewFileAtOnceAllStartAndKeepEveryRow) {
    constexpr int kRounds = 20;
    constexpr int kWriters = 4;
    constexpr int kRowsEach = 3;
    for (int round = 0; round < kRounds; ++round) {
        Folder folder;
        const std::string path = folder.File();
        int start[2];
        ASSERT_EQ(pipe(start), 0);
        std::vector<pid_t> children;
        for (int writer = 0; writer < kWriters; ++writer) {
            pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                close(start[1]);
                char go;
                if (read(start[0], &go, 1) != 0) _exit(5);  // the end closed: all go at once
                std::string error;
                auto store = RecordStore::Open(path, Access::Write, &error);
                for (int i = 0; store && error.empty() && i < kRowsEach; ++i) {
                    records::Row row = Sample("/dev/ttyUSB" + std::to_string(writer), static_cast<uint32_t>(i + 1));
                    if (store->Begin(&row, &error)) {
                        row.endedAt = row.startedAt;
                        row.result = records::kConfirmed;
                        store->Complete(row, &error);
                    }
                }
                std::ofstream(path + "." + std::to_string(writer) + ".error") << error << "\n";
                _exit(error.empty() ? 0 : 1);
            }
            children.push_back(child);
        }
        close(start[0]);
        close(start[1]);
        std::string failures;
        for (size_t writer = 0; writer < children.size(); ++writer) {
            int status = 0;
            waitpid(children[writer], &status, 0);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                failures += " [" + FirstLine(path + "." + std::to_string(writer) + ".error") + "]";
        }
        ASSERT_TRUE(failures.empty()) << "round " << round << ":" << failures;
        std::vector<records::Row> rows;
        std::string error;
        ASSERT_TRUE(OpenOrFail(path, Access::Read)->List({"", "", "confirmed", ""}, &rows, &error)) << error;
        ASSERT_EQ(rows.size(), static_cast<size_t>(kWriters * kRowsEach)) << "round " << round;
    }
}

TEST(RecordStore, OpenRefusesAnUnwritableFolderAForeignFileAndALaterSchemaNamingTheFile) {
    Folder folder;
    fs::create_directory(folder.path / "locked");
    fs::permissions(folder.path / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    if (geteuid() != 0) {  // root writes anywhere
        const std::string locked = (folder.path / "locked" / "records.db").string();
        EXPECT_NE(OpenError(locked).find(locked + ": "), std::string::npos);
    }

    // A records file its user may not write, in a folder the user may: refused at open, not
    // at the first row. Tried as another user when run as root, who writes any file.
    const std::string readOnly = folder.File("read-only.db");
    OpenOrFail(readOnly);
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const bool root = geteuid() == 0;
    const struct passwd* nobody = getpwnam("nobody");
    if (root) {
        ASSERT_NE(nobody, nullptr);
        ASSERT_EQ(chown(folder.path.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        ASSERT_EQ(chown(readOnly.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    const std::string refusal = InChild([&] {
        if (root && (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)) return std::string("still root");
        return OpenError(readOnly);
    });
    EXPECT_NE(refusal.find(readOnly + ": "), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("read-only"), std::string::npos) << refusal;

    const std::string text = folder.File("notes.db");
    std::ofstream(text) << "not a database at all, just some text that is long enough to fill a header........";
    EXPECT_NE(OpenError(text).find("file is not a database"), std::string::npos) << OpenError(text);

    const std::string foreign = folder.File("other.db");
    sqlite3* db = nullptr;
    sqlite3_open(foreign.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_NE(OpenError(foreign).find("not a varnex records file"), std::string::npos);

    const std::string later = folder.File("later.db");
    OpenOrFail(later);
    sqlite3_open(later.c_str(), &db);
    sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_NE(OpenError(later).find("later varnex (records schema 99"), std::string::npos);

    EXPECT_NE(OpenError(folder.File("missing.db"), Access::Read).find("missing.db: "), std::string::npos);
}

// Creating the schema fails for want of room: the reason is SQLite's own, not the one of the
// rollback after it.
TEST(RecordStore, ASchemaThatCannotBeWrittenIsRefusedWithItsFirstError) {
    Folder folder;
    const std::string path = folder.File();
    // An empty SQLite file in WAL mode, held open: its shared-memory file is already there,
    // so only the schema's own pages meet the limit.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode = WAL; SELECT count(*) FROM sqlite_schema", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    constexpr rlim_t kRoomBytes = 4096;  // less than a page and its WAL frame
    const std::string error = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {kRoomBytes, kRoomBytes};
        setrlimit(RLIMIT_FSIZE, &limit);
        return OpenError(path);
    });
    sqlite3_close(db);
    EXPECT_NE(error.find(path + ": "), std::string::npos) << error;
    EXPECT_NE(error.find("disk"), std::string::npos) << error;
    EXPECT_EQ(error.find("rollback"), std::string::npos) << error;
}

// The upgrade in place, tried with the column list of a version to come: a file of today's
// version reads the new column as its default, and after its upgrade holds the column with
// that value, its rows intact, and the new version.
TEST(RecordStore, AFileOfAnOlderVersionIsReadAsItIsAndUpgradedInPlace) {
    Folder folder;
    const std::string path = folder.File();
    records::Row row = Sample("/dev/ttyUSB0", 3);
    std::string error;
    ASSERT_TRUE(OpenOrFail(path)->Begin(&row, &error)) << error;

    std::vector<records::Column> later = records::Columns();
    const int laterVersion = records::kSchemaVersion + 1;
    later.push_back({"fixture", records::ColumnType::Text, "NOT NULL", "'unknown'", records::Written::AtStart,
                     laterVersion, nullptr, nullptr});
    const records::Schema schema{later, laterVersion};
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    auto first = [db](const std::string& sql) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
        std::string value = "no row: " + std::string(sqlite3_errmsg(db));
        if (sqlite3_step(statement) == SQLITE_ROW) {
            const int last = sqlite3_column_count(statement) - 1;
            value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)) + std::string(" ") +
                    reinterpret_cast<const char*>(sqlite3_column_text(statement, last));
        }
        sqlite3_finalize(statement);
        return value;
    };
    EXPECT_EQ(first(records::SelectSql(schema, records::kSchemaVersion)), "1 unknown");

    ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_TRUE(records::CreateOrUpgrade(db, schema, &error)) << error;
    ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(first(records::SelectSql(schema, laterVersion)), "1 unknown");
    EXPECT_EQ(first("SELECT port, unit FROM loads"), "/dev/ttyUSB0 3");
    EXPECT_EQ(first("PRAGMA user_version"), std::to_string(laterVersion) + " " + std::to_string(laterVersion));
    EXPECT_EQ(first("PRAGMA integrity_check"), "ok ok");
    sqlite3_close(db);
}

// Today's chain: a file of each earlier version, made with the columns and tables that version
// had, opened for writing is brought to today's in place: its row intact (its device unknown),
// a journal id, and a new row with its device, noted for the server.
TEST(RecordStore, FilesOfEveryEarlierVersionAreUpgradedToTodaysInPlace) {
    for (int version = 1; version < records::kSchemaVersion; ++version) {
        Folder folder;
        const std::string path = folder.File();
        std::vector<records::Column> columns;
        for (const records::Column& column : records::Columns()) {
            if (column.sinceVersion <= version) columns.push_back(column);
        }
        const records::Schema old{columns, version};
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        std::string error;
        ASSERT_TRUE(records::CreateOrUpgrade(db, old, &error)) << error;
        const std::string insert = "INSERT INTO loads(started_at, station, port, operation, image, image_size, "
                                   "image_sha256, baud, unit, varnex_version) VALUES ('2026-12-01T08:00:00.000Z', "
                                   "'old', 'fixture 1', 'software', 'x', 1, 'aa', 115200, 4, '1.2.0')";
        ASSERT_EQ(sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);

        std::vector<records::Row> rows;
        // Read without writing, a file older than the serials has none to find.
        ASSERT_TRUE(OpenOrFail(path, Access::Read)->List({"", "", "", "", "SN1"}, &rows, &error)) << error;
        EXPECT_TRUE(rows.empty());
        auto store = OpenOrFail(path);
        records::Row row = Sample("fixture 2", 1);
        row.device = "/dev/serial/by-path/platform-usb-0:1.2:1.0-port0";
        row.serial = "SN1";
        ASSERT_TRUE(store->Begin(&row, &error)) << error;
        ASSERT_TRUE(store->List({}, &rows, &error)) << error;
        ASSERT_EQ(rows.size(), 2u) << version;
        EXPECT_EQ(rows[0].serial, "");
        EXPECT_EQ(rows[1].serial, "SN1");
        EXPECT_EQ(rows[0].station, "old");
        EXPECT_EQ(rows[0].port, "fixture 1");
        EXPECT_EQ(rows[0].unit, 4u);
        EXPECT_EQ(rows[0].device, "");
        EXPECT_EQ(rows[1].device, row.device);
        std::string journal;
        EXPECT_TRUE(store->JournalId(&journal, &error)) << version << ": " << error;
        int64_t last = 0;
        ASSERT_TRUE(store->Pending(10, &rows, &last, &error)) << error;
        EXPECT_EQ(rows.back().device, row.device) << version;
        EXPECT_EQ(store->Setting("user_version"), std::to_string(records::kSchemaVersion));
        EXPECT_EQ(store->Setting("integrity_check"), "ok");
    }
}

// The file may not grow past a limit, as on a full disk: the write says so and loses
// nothing written before.
TEST(RecordStore, AWriteWithNoRoomLeftFailsWithTheReasonAndKeepsEarlierRows) {
    Folder folder;
    const std::string path = folder.File();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        std::string error;
        auto store = RecordStore::Open(path, Access::Write, &error);
        if (!store) _exit(2);
        struct rlimit limit = {64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        for (int i = 0; i < 100000; ++i) {
            records::Row row = Sample("/dev/ttyUSB0", static_cast<uint32_t>(i));
            row.reason = std::string(200, 'x');
            if (!store->Begin(&row, &error)) {
                std::FILE* out = std::fopen((path + ".error").c_str(), "w");
                std::fputs(error.c_str(), out);
                std::fclose(out);
                _exit(0);
            }
        }
        _exit(5);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::ifstream reason(path + ".error");
    std::string text((std::istreambuf_iterator<char>(reason)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(text.empty());
    std::vector<records::Row> rows;
    std::string error;
    ASSERT_TRUE(OpenOrFail(path, Access::Read)->List({}, &rows, &error)) << error;
    EXPECT_GT(rows.size(), 0u);
}

TEST(RecordStore, TheSummaryCountsPerDayStationAndPortWithTheMedianDuration) {
    Folder folder;
    auto store = OpenOrFail(folder.File());
    std::string error;
    struct Load {
        const char* day;
        const char* port;
        const char* result;
        uint64_t ms;
        const char* station = "bench-3";
    };
    const Load loads[] = {{"2026-12-07", "A", "confirmed", 100},      {"2026-12-07", "A", "confirmed", 300},
                          {"2026-12-07", "A", "confirmed", 200},      {"2026-12-07", "A", "failed", 5},
                          {"2026-12-07", "B", "no_confirmation", 9},  {"2026-12-08", "A", "confirmed", 10},
                          {"2026-12-08", "A", "confirmed", 20},       {"2026-12-08", "A", "stopped", 3},
                          {"2026-12-08", "A", "failed", 7, "bench-4"}};
    for (const Load& load : loads) {
        records::Row row = Sample(load.port, 1);
        row.station = load.station;
        row.startedAt = std::string(load.day) + "T10:00:00.000Z";
        ASSERT_TRUE(store->Begin(&row, &error));
        row.endedAt = row.startedAt;
        row.result = load.result;
        row.durationMs = load.ms;
        ASSERT_TRUE(store->Complete(row, &error));
    }
    std::vector<records::DaySummary> days;
    ASSERT_TRUE(store->Summarise({}, &days, &error)) << error;
    ASSERT_EQ(days.size(), 4u);
    EXPECT_EQ(days[0].day, "2026-12-07");
    EXPECT_EQ(days[0].station, "bench-3");
    EXPECT_EQ(days[0].port, "A");
    EXPECT_EQ(days[0].loaded, 3u);
    EXPECT_EQ(days[0].failed, 1u);
    EXPECT_EQ(days[0].medianMs, 200u);
    EXPECT_EQ(days[1].port, "B");
    EXPECT_EQ(days[1].failed, 1u);
    EXPECT_EQ(days[2].loaded, 2u);
    EXPECT_EQ(days[2].failed, 0u);  // a load stopped at the shift's end did not fail
    EXPECT_EQ(days[2].medianMs, 15u);
    EXPECT_EQ(days[3].station, "bench-4");  // the same day and port name at another station
    EXPECT_EQ(days[3].failed, 1u);
}

TEST(RecordStore, TimesAreUtcIso8601WithMilliseconds) {
    EXPECT_EQ(records::IsoUtc(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(records::IsoUtc(1796710689123), "2026-12-08T06:18:09.123Z");
    EXPECT_EQ(records::IsoUtc(951782400000), "2000-02-29T00:00:00.000Z");
}

// A unit's first load decides its first pass, counted where and when that load was; units
// without a serial are not counted; the serial filter finds one unit's loads.
TEST(RecordStore, FirstPassYieldCountsEachSerialOnceAtItsFirstLoad) {
    Folder folder;
    auto store = OpenOrFail(folder.File());
    std::string error;
    struct Load {
        const char* day;
        const char* port;
        const char* serial;
        const char* result;
    };
    const Load loads[] = {
        {"2026-12-07", "A", "S1", "confirmed"}, {"2026-12-07", "A", "S2", "failed"},
        {"2026-12-07", "A", "", "failed"},      {"2026-12-07", "B", "S2", "confirmed"},  // S2's second try
        {"2026-12-08", "B", "S1", "confirmed"},  // S1 brought back: not a new unit
        {"2026-12-08", "B", "S3", "confirmed"},
    };
    for (const Load& load : loads) {
        records::Row row = Sample(load.port, 1);
        row.startedAt = std::string(load.day) + "T10:00:00.000Z";
        row.serial = load.serial;
        ASSERT_TRUE(store->Begin(&row, &error));
        row.endedAt = row.startedAt;
        row.result = load.result;
        ASSERT_TRUE(store->Complete(row, &error));
    }
    std::vector<records::DaySummary> days;
    ASSERT_TRUE(store->Summarise({}, &days, &error)) << error;
    ASSERT_EQ(days.size(), 3u);
    EXPECT_EQ(days[0].units, 2u);  // 07, A: S1 passed, S2 failed
    EXPECT_EQ(days[0].firstPass, 1u);
    EXPECT_DOUBLE_EQ(days[0].FirstPassYield(), 0.5);
    EXPECT_EQ(days[1].units, 0u);  // 07, B: S2 again only
    EXPECT_LT(days[1].FirstPassYield(), 0.0);
    EXPECT_EQ(days[2].units, 1u);  // 08, B: S3 new, S1 back
    EXPECT_EQ(days[2].firstPass, 1u);

    std::vector<records::Row> rows;
    ASSERT_TRUE(store->List({"", "", "confirmed", "", "S1"}, &rows, &error)) << error;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].startedAt, "2026-12-08T10:00:00.000Z");
}
