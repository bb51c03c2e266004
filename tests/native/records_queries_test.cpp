// The queries the web board asks of a records file that several stations share, with start
// times out of id order: pages by id that never skip or repeat a row and keep to one station,
// and the shift's figures worked out in SQL for that station alone, bounded in rows.
#include <gtest/gtest.h>

#include <map>

#include "RecordsFixtures.h"

namespace {

using fixture::Folder;
using fixture::Sample;

constexpr const char* kShiftStart = "2026-12-08T06:00:00.000Z";

struct Load {
    const char* station;
    const char* port;
    const char* started;  // hh:mm on the shift's day
    const char* ended;    // "" never completed
    const char* result;
    const char* reason;
};

// In the order written: a station's clock and a port's long wait put start times out of id order.
const Load kLoads[] = {
    {"line-1", "A", "06:30", "06:31", "confirmed", ""},  // id 1, hour 0
    {"line-2", "A", "06:10", "06:11", "confirmed", ""},  // another station
    {"line-1", "B", "07:40", "07:41", "failed", "the unit ended the image"},
    {"line-1", "A", "06:05", "07:05", "confirmed", ""},               // id 4, ended in hour 1
    {"line-1", "A", "05:50", "05:51", "confirmed", ""},               // before the shift
    {"line-1", "B", "06:20", "06:21", "no_confirmation", ""},         // no reason: its result
    {"line-1", "A", "06:40", "06:41", "stopped", ""},                 // not a failure
    {"line-1", "C", "06:50", "", "interrupted", ""},                  // never completed
    {"line-2", "B", "06:30", "06:31", "failed", "the port is gone"},  // another station
};

std::string At(const char* time) { return std::string("2026-12-08T") + time + ":00.000Z"; }

void Fill(records::RecordStore& store) {
    std::string error;
    for (const Load& load : kLoads) {
        records::Row row = Sample(load.port, 1);
        row.station = load.station;
        row.startedAt = At(load.started);
        ASSERT_TRUE(store.Begin(&row, &error)) << error;
        if (*load.ended == '\0') continue;
        row.endedAt = At(load.ended);
        row.result = load.result;
        row.reason = load.reason;
        ASSERT_TRUE(store.Complete(row, &error)) << error;
    }
}

TEST(RecordQueries, PagesByIdAndTheShiftsFiguresKeepToOneStationOfASharedFile) {
    Folder folder;
    std::string error;
    auto store = records::RecordStore::Open(folder.File(), records::Access::Write, &error);
    ASSERT_TRUE(store) << error;
    Fill(*store);

    // Every page newest first, below the last id seen: each of line-1's seven rows once.
    records::Filter line1;
    line1.station = "line-1";
    std::vector<int64_t> ids;
    int64_t before = 0;
    for (int page = 0; page < 4; ++page) {
        std::vector<records::Row> rows;
        ASSERT_TRUE(store->Page(line1, before, 3, &rows, &error)) << error;
        EXPECT_LE(rows.size(), 3u);
        for (const records::Row& row : rows) {
            EXPECT_EQ(row.station, "line-1");
            ids.push_back(row.id);
        }
        if (rows.size() < 3) break;
        before = rows.back().id;
    }
    EXPECT_EQ(ids, (std::vector<int64_t>{8, 7, 6, 5, 4, 3, 1}));
    std::vector<records::Row> failed;
    records::Filter failures = line1;
    failures.result = "failed";
    ASSERT_TRUE(store->Page(failures, 0, 10, &failed, &error));
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].id, 3);

    records::ShiftFigures figures;
    ASSERT_TRUE(store->Shift("line-1", kShiftStart, &figures, &error)) << error;
    EXPECT_EQ(figures.loadedPerHour, (std::vector<uint64_t>{1, 1}));
    EXPECT_EQ(figures.failuresByPort, (std::map<std::string, uint64_t>{{"B", 2}}));
    EXPECT_EQ(figures.failuresByReason,
              (std::map<std::string, uint64_t>{{"no_confirmation", 1}, {"the unit ended the image", 1}}));
    EXPECT_EQ(figures.rows, 6u);
    EXPECT_FALSE(figures.capped);

    // Bounded: the newest rows by start time only, and said so.
    ASSERT_TRUE(store->Shift("line-1", kShiftStart, &figures, &error, 2)) << error;
    EXPECT_EQ(figures.rows, 2u);
    EXPECT_TRUE(figures.capped);
    EXPECT_EQ(figures.failuresByPort, (std::map<std::string, uint64_t>{{"B", 1}}));  // 07:40 and 06:50
    EXPECT_TRUE(figures.loadedPerHour.empty());

    ASSERT_TRUE(store->Shift("line-3", kShiftStart, &figures, &error)) << error;
    EXPECT_EQ(figures.rows, 0u);
    EXPECT_TRUE(figures.failuresByReason.empty());
}

}  // namespace
