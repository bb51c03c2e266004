// The records file against a real SQLite file: a row per load with every field, a row never
// completed reading interrupted (also after its writer was killed), two processes writing one
// file at once, the checks at open, a write that fails for want of room, the summary.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "records/RecordStore.h"

namespace {

namespace fs = std::filesystem;
using records::Access;
using records::RecordStore;

struct Folder {
    fs::path path;
    Folder() {
        char name[] = "/tmp/varnex-records-XXXXXX";
        path = mkdtemp(name);
    }
    ~Folder() {
        std::error_code ignored;
        fs::permissions(path, fs::perms::owner_all, ignored);
        fs::remove_all(path, ignored);
    }
    std::string File(const char* name = "records.db") const { return (path / name).string(); }
};

records::Row Sample(const std::string& port, uint32_t unit) {
    records::Row row;
    row.startedAt = "2026-12-08T06:18:09.123Z";
    row.station = "bench-3";
    row.port = port;
    row.operation = "bootloader";
    row.image = "BOOTLOADER";
    row.imageSize = 249008;
    row.imageSha256 = std::string(64, 'a');
    row.baud = 115200;
    row.unit = unit;
    row.version = "1.2.3";
    return row;
}

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
}

TEST(RecordStore, OpenRefusesAnUnwritableFolderAForeignFileAndALaterSchemaNamingTheFile) {
    Folder folder;
    fs::create_directory(folder.path / "locked");
    fs::permissions(folder.path / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    if (geteuid() != 0) {  // root writes anywhere
        const std::string locked = (folder.path / "locked" / "records.db").string();
        EXPECT_NE(OpenError(locked).find(locked + ": "), std::string::npos);
    }

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

TEST(RecordStore, TheSummaryCountsPerDayAndPortWithTheMedianDuration) {
    Folder folder;
    auto store = OpenOrFail(folder.File());
    std::string error;
    struct Load {
        const char* day;
        const char* port;
        const char* result;
        uint64_t ms;
    };
    const Load loads[] = {{"2026-12-07", "A", "confirmed", 100},     {"2026-12-07", "A", "confirmed", 300},
                          {"2026-12-07", "A", "confirmed", 200},     {"2026-12-07", "A", "failed", 5},
                          {"2026-12-07", "B", "no_confirmation", 9}, {"2026-12-08", "A", "confirmed", 10},
                          {"2026-12-08", "A", "confirmed", 20}};
    for (const Load& load : loads) {
        records::Row row = Sample(load.port, 1);
        row.startedAt = std::string(load.day) + "T10:00:00.000Z";
        ASSERT_TRUE(store->Begin(&row, &error));
        row.endedAt = row.startedAt;
        row.result = load.result;
        row.durationMs = load.ms;
        ASSERT_TRUE(store->Complete(row, &error));
    }
    std::vector<records::DaySummary> days;
    ASSERT_TRUE(store->Summarise({}, &days, &error)) << error;
    ASSERT_EQ(days.size(), 3u);
    EXPECT_EQ(days[0].day, "2026-12-07");
    EXPECT_EQ(days[0].port, "A");
    EXPECT_EQ(days[0].loaded, 3u);
    EXPECT_EQ(days[0].failed, 1u);
    EXPECT_EQ(days[0].medianMs, 200u);
    EXPECT_EQ(days[1].port, "B");
    EXPECT_EQ(days[1].failed, 1u);
    EXPECT_EQ(days[2].medianMs, 15u);
}

TEST(RecordStore, TimesAreUtcIso8601WithMilliseconds) {
    EXPECT_EQ(records::IsoUtc(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(records::IsoUtc(1796710689123), "2026-12-08T06:18:09.123Z");
    EXPECT_EQ(records::IsoUtc(951782400000), "2000-02-29T00:00:00.000Z");
}
