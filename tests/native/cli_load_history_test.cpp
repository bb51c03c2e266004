// A scanned unit's earlier loads, looked up in a real records file and a records server that
// cannot be reached: the latest confirmed load is the one told, a failed load is none, and a
// server that does not answer is left alone for a while rather than delaying every unit.
#include <gtest/gtest.h>

#include <string>

#include "FakePort.h"
#include "RecordsFixtures.h"
#include "cli/station/LoadHistory.h"

namespace {

void Add(records::RecordStore& store, const char* serial, const char* at, const char* port, const char* result) {
    records::Row row = fixture::Sample(port, 1);
    row.serial = serial;
    row.startedAt = at;
    std::string error;
    ASSERT_TRUE(store.Begin(&row, &error)) << error;
    row.endedAt = at;
    row.result = result;
    ASSERT_TRUE(store.Complete(row, &error)) << error;
}

}  // namespace

TEST(CliLoadHistory, TheLatestConfirmedLoadIsFoundAndAnUnreachableServerIsAskedAgainLater) {
    fixture::Folder folder;
    std::string error;
    auto store = records::RecordStore::Open(folder.File(), records::Access::Write, &error);
    ASSERT_TRUE(store) << error;
    Add(*store, "S1", "2026-12-07T22:01:00.000Z", "fixture 1", records::kConfirmed);
    Add(*store, "S1", "2026-12-08T06:12:41.500Z", "fixture 3", records::kConfirmed);
    Add(*store, "S1", "2026-12-08T07:00:00.000Z", "fixture 2", records::kFailed);
    Add(*store, "S2", "2026-12-08T07:00:00.000Z", "fixture 2", records::kNoConfirmation);
    fake::FakeClock clock;

    cli::RecordsHistory fileOnly(store.get(), "", clock);
    station::PreviousLoad previous;
    bool found = false;
    ASSERT_TRUE(fileOnly.FindConfirmed("S1", &previous, &found, &error)) << error;
    ASSERT_TRUE(found);
    EXPECT_EQ(previous.when, "2026-12-08 06:12 UTC");
    EXPECT_EQ(previous.port, "fixture 3");
    EXPECT_EQ(previous.station, "bench-3");
    ASSERT_TRUE(fileOnly.FindConfirmed("S2", &previous, &found, &error)) << error;
    EXPECT_FALSE(found);

    // Nothing listens on port 1: the file's answer stands where it has one; where it has none,
    // the server's failure is the reason, and for 30 s after a failure the server is not asked.
    cli::RecordsHistory withServer(store.get(), "postgresql://varnex@127.0.0.1:1/records", clock);
    ASSERT_TRUE(withServer.FindConfirmed("S1", &previous, &found, &error)) << error;
    EXPECT_TRUE(found);
    clock.Advance(cli::kServerRetryMs - 1);
    EXPECT_FALSE(withServer.FindConfirmed("S2", &previous, &found, &error));
    EXPECT_EQ(error, "the records server 127.0.0.1 is not answering");
    clock.Advance(1);
    EXPECT_FALSE(withServer.FindConfirmed("S2", &previous, &found, &error));
    EXPECT_EQ(error.rfind("the records server 127.0.0.1: ", 0), 0u) << error;
}
