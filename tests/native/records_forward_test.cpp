// The forwarding to the line's server, on a real SQLite file, a fake server and a fake clock:
// the retry schedule, the outbox noted with each row and cleared only after the server took
// the batch, a failing server that loses nothing, a permanent failure said once, and a
// version-1 file upgraded in place.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "RecordsFixtures.h"
#include "records/Forwarder.h"
#include "records/RecordStore.h"
#include "records/RetrySchedule.h"

namespace {

namespace fs = std::filesystem;
using records::Access;
using records::RecordStore;

using fixture::Folder;

records::Row Sample(uint32_t unit) { return fixture::Sample("/dev/ttyUSB0", unit); }

// The server as the forwarder sees it: it holds what it took, or fails as told.
struct FakeServer : records::RowSink {
    std::vector<std::vector<records::Row>> batches;
    std::vector<std::string> journals;
    bool fail = false;
    bool permanent = false;
    bool Send(const std::string& journal, const std::vector<records::Row>& rows, size_t* taken,
              records::ServerError* error) override {
        if (fail) {
            *error = {permanent, permanent ? "password authentication failed" : "connection refused"};
            return false;
        }
        journals.push_back(journal);
        batches.push_back(rows);
        *taken = rows.size();
        return true;
    }
    bool Beat(const records::Heartbeat& heartbeat, records::ServerError* error) override {
        if (fail) {
            *error = {permanent, "connection refused"};
            return false;
        }
        beats.push_back(heartbeat);
        return true;
    }
    std::vector<records::Heartbeat> beats;
};

std::unique_ptr<RecordStore> Open(const std::string& path) {
    std::string error;
    auto store = RecordStore::Open(path, Access::Write, &error);
    EXPECT_TRUE(store) << error;
    return store;
}

uint64_t Waiting(RecordStore& store) {
    uint64_t count = 0;
    std::string error;
    EXPECT_TRUE(store.PendingCount(&count, &error)) << error;
    return count;
}

TEST(RetrySchedule, ThePauseDoublesFromOneSecondToAMinuteWithJitterAndStartsOverAfterASuccess) {
    records::RetrySchedule schedule(42);
    const int64_t now = 1000000;
    const std::vector<int64_t> pauses = {1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000};
    for (int64_t pause : pauses) {
        const int64_t next = schedule.Failed(now, false);
        EXPECT_EQ(schedule.PauseMs(), pause);
        EXPECT_LE(next, now + pause);
        EXPECT_GE(next, now + pause - pause / records::kJitterDivisor);
    }
    schedule.Succeeded();
    schedule.Failed(now, false);
    EXPECT_EQ(schedule.PauseMs(), records::kFirstPauseMs);
    // A permanent failure waits the longest pause at once; two schedules of other seeds differ.
    schedule.Failed(now, true);
    EXPECT_EQ(schedule.PauseMs(), records::kLongestPauseMs);
    records::RetrySchedule a(1), b(2);
    bool differ = false;
    for (int i = 0; i < 8; ++i) differ = differ || a.Failed(now, false) != b.Failed(now, false);
    EXPECT_TRUE(differ);
}

TEST(Forwarding, RowsGoInOrderInBatchesWithTheirLatestStateAndLeaveTheOutboxOnlyOnceTaken) {
    Folder file;
    auto store = Open(file.File());
    std::string error, journal;
    ASSERT_TRUE(store->JournalId(&journal, &error)) << error;
    EXPECT_EQ(journal.size(), 36u);  // a UUID, made with the file

    std::vector<records::Row> rows;
    for (uint32_t unit = 1; unit <= records::kBatchRows + 5; ++unit) {
        records::Row row = Sample(unit);
        ASSERT_TRUE(store->Begin(&row, &error)) << error;
        rows.push_back(row);
    }
    records::Row done = rows[0];
    done.endedAt = "2026-12-08T06:19:00.000Z";
    done.result = records::kConfirmed;
    done.durationMs = 50877;
    ASSERT_TRUE(store->Complete(done, &error)) << error;
    EXPECT_EQ(Waiting(*store), rows.size());  // begun and completed: noted once

    FakeServer server;
    server.fail = true;
    records::ForwardStep step(*store, server, 7);
    int64_t next = step.Run(0, 1000);
    EXPECT_GE(next, 800);
    EXPECT_LE(next, 1000);
    EXPECT_EQ(step.Reason(), "connection refused");
    EXPECT_EQ(Waiting(*store), rows.size());  // nothing taken, nothing lost

    server.fail = false;
    next = step.Run(next, 1000);
    EXPECT_TRUE(step.Reason().empty());
    EXPECT_EQ(Waiting(*store), 0u);
    ASSERT_EQ(server.batches.size(), 2u);
    EXPECT_EQ(server.batches[0].size(), records::kBatchRows);
    EXPECT_EQ(server.batches[0][0].id, rows[1].id);  // the completed row moved to the end
    EXPECT_EQ(server.batches[1].back().id, rows[0].id);
    EXPECT_EQ(server.batches[1].back().result, records::kConfirmed);
    EXPECT_EQ(server.journals[0], journal);

    // A row begun now goes on the next look; one completed after it was sent goes again.
    records::Row late = Sample(999);
    ASSERT_TRUE(store->Begin(&late, &error)) << error;
    step.Run(next, 1000);
    late.endedAt = "2026-12-08T06:20:00.000Z";
    late.result = records::kFailed;
    ASSERT_TRUE(store->Complete(late, &error)) << error;
    step.Run(next + 1000, 1000);
    ASSERT_EQ(server.batches.size(), 4u);
    EXPECT_TRUE(server.batches[2][0].endedAt.empty());
    EXPECT_EQ(server.batches[3][0].result, records::kFailed);
}

// Asked to stop, a run sends no further batch: the one in flight is marked, the rest wait.
TEST(Forwarding, AStopRaisedDuringARunSendsNoFurtherBatchAndTheRestWaitInTheFile) {
    Folder file;
    auto store = Open(file.File());
    std::string error;
    for (uint32_t unit = 1; unit <= 2 * records::kBatchRows + 5; ++unit) {
        records::Row row = Sample(unit);
        ASSERT_TRUE(store->Begin(&row, &error)) << error;
    }
    FakeServer server;
    std::atomic<bool> stop{false};
    records::ForwardStep step(*store, server, 7);
    step.StopWhen(&stop);
    step.AfterCommit([&stop] { stop = true; });
    step.Run(0, 1000);
    EXPECT_EQ(server.batches.size(), 1u);
    EXPECT_EQ(Waiting(*store), records::kBatchRows + 5);
    EXPECT_FALSE(step.Idle());
}

TEST(Forwarding, APermanentFailureIsSaidOnceWaitsTheLongestPauseAndIsSaidAgainOnlyAfterARecovery) {
    Folder file;
    auto store = Open(file.File());
    std::string error;
    records::Row row = Sample(1);
    ASSERT_TRUE(store->Begin(&row, &error)) << error;
    FakeServer server;
    server.fail = server.permanent = true;
    records::ForwardStep step(*store, server, 7);
    std::vector<std::string> said;
    step.OnPermanentFailure([&said](const std::string& text) { said.push_back(text); });
    int64_t now = 0;
    for (int i = 0; i < 3; ++i) {
        const int64_t next = step.Run(now, 1000);
        EXPECT_GE(next - now, records::kLongestPauseMs - records::kLongestPauseMs / records::kJitterDivisor);
        now = next;
    }
    EXPECT_EQ(said.size(), 1u);
    EXPECT_EQ(step.Failures(), 3u);  // each try counted, though said once
    server.fail = false;
    step.Run(now, 1000);
    EXPECT_EQ(Waiting(*store), 0u);
    EXPECT_EQ(step.Failures(), 3u);
    server.fail = true;
    ASSERT_TRUE(store->Begin(&row, &error)) << error;
    step.Run(now + 1000, 1000);
    EXPECT_EQ(said.size(), 2u);
}

TEST(Forwarding, AVersionOneFileIsUpgradedInPlaceKeepingItsRowsAndReadAsItIsWhenOnlyRead) {
    Folder file;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.File().c_str(), &db), SQLITE_OK);
    const char* v1 =
        "CREATE TABLE loads(id INTEGER PRIMARY KEY, started_at TEXT NOT NULL, ended_at TEXT, station TEXT NOT NULL,"
        " port TEXT NOT NULL, operation TEXT NOT NULL, image TEXT NOT NULL, image_size INTEGER NOT NULL,"
        " image_sha256 TEXT NOT NULL, baud INTEGER NOT NULL, bytes_sent INTEGER NOT NULL DEFAULT 0,"
        " result TEXT NOT NULL DEFAULT 'interrupted', reason TEXT NOT NULL DEFAULT '', duration_ms INTEGER,"
        " unit INTEGER NOT NULL, varnex_version TEXT NOT NULL);"
        "INSERT INTO loads VALUES (1, '2026-12-01T08:00:00.000Z', '2026-12-01T08:01:00.000Z', 'old', 'COM3',"
        " 'software', 'x', 1, 'aa', 115200, 1, 'confirmed', '', 60000, 1, '1.0.0');"
        "PRAGMA application_id = 1448627794; PRAGMA user_version = 1;";
    ASSERT_EQ(sqlite3_exec(db, v1, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    std::string error;
    auto reader = RecordStore::Open(file.File(), Access::Read, &error);
    ASSERT_TRUE(reader) << error;
    std::vector<records::Row> rows;
    ASSERT_TRUE(reader->List({}, &rows, &error)) << error;
    EXPECT_EQ(rows.size(), 1u);
    reader.reset();

    auto store = Open(file.File());
    std::string journal;
    ASSERT_TRUE(store->JournalId(&journal, &error)) << error;
    EXPECT_EQ(journal.size(), 36u);
    records::Row row = Sample(2);
    ASSERT_TRUE(store->Begin(&row, &error)) << error;
    rows.clear();
    ASSERT_TRUE(store->List({}, &rows, &error)) << error;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].station, "old");
    EXPECT_EQ(Waiting(*store), 1u);  // the old rows go with `varnex records forward`
    store.reset();
    // Opened again, the journal keeps its id.
    auto again = Open(file.File());
    std::string same;
    ASSERT_TRUE(again->JournalId(&same, &error)) << error;
    EXPECT_EQ(same, journal);
}

}  // namespace
