// The station's board model: what a port shows through a unit's cycle, the failure's latch,
// the counters, the throttle on progress, the rate held to the line's pace and the JSON form.
#include <gtest/gtest.h>

#include <initializer_list>
#include <thread>

#include "board/Board.h"
#include "board/BoardJson.h"

namespace {

using station::LoadEnd;
using station::LoadResult;
using station::Step;

const std::vector<std::string> kPorts = {"/dev/ttyUSB0", "/dev/ttyUSB1"};
constexpr uint64_t kTotal = 249008;
constexpr uint32_t kBaud = 115200;

TEST(BoardModel, AUnitsCycleItsFailureLatchedUntilTheNextUnitAndTheCounters) {
    board::Board board(kPorts, "shift.db", 0);
    EXPECT_EQ(board.Snapshot(0).ports[1].step, "opening");
    board.Step(0, Step::WaitingForUnit, 0, "waiting for a unit", 100);
    board.LoadStart(0, 1, kTotal, kBaud, 1000);
    board.LoadEnd(0, 1, LoadEnd{LoadResult::Confirmed, kTotal, kTotal, 24000, ""}, 25000);
    board.LoadStart(0, 2, kTotal, kBaud, 30000);
    board.LoadEnd(0, 2, LoadEnd{LoadResult::Failed, 100, kTotal, 500, "the unit ended the image"}, 30500);
    board.Step(0, Step::WaitingForUnitToGo, 2, "switch the unit off and take it away", 30600);
    board.Step(1, Step::PortLost, 0, "port lost, trying again", 30700);

    board::StationState state = board.Snapshot(3600000);
    const board::PortState& port = state.ports[0];
    EXPECT_TRUE(port.failed);
    EXPECT_EQ(port.reason, "the unit ended the image");
    EXPECT_EQ(port.result, "failed");
    EXPECT_EQ(port.unit, 2u);
    EXPECT_EQ(port.step, "waiting_for_unit_to_go");
    EXPECT_TRUE(state.ports[1].lost);
    EXPECT_EQ(state.loaded, 1u);
    EXPECT_EQ(state.failed, 1u);
    EXPECT_DOUBLE_EQ(state.yield, 0.5);
    EXPECT_DOUBLE_EQ(state.unitsPerHour, 1.0);
    EXPECT_EQ(state.records, "shift.db");

    board.LoadStart(0, 3, kTotal, kBaud, 3600100);
    EXPECT_FALSE(board.Snapshot(3600100).ports[0].failed);  // the next unit clears the latch
    EXPECT_TRUE(board.Snapshot(3600100).ports[0].loading);
}

TEST(BoardModel, ProgressIsPublishedAtMostFourTimesASecondButStepsAndEndsAtOnce) {
    board::Board board(kPorts, "", 0);
    board.LoadStart(0, 1, kTotal, kBaud, 0);
    const uint64_t afterStart = board.Sequence();
    for (uint64_t ms = 10; ms <= 1000; ms += 10) board.Progress(0, ms * 10, kTotal, ms);
    EXPECT_LE(board.Sequence() - afterStart, 4u);
    EXPECT_GE(board.Sequence() - afterStart, 3u);
    const uint64_t beforeEnd = board.Sequence();
    board.LoadEnd(0, 1, LoadEnd{LoadResult::Confirmed, kTotal, kTotal, 1000, ""}, 1005);
    EXPECT_EQ(board.Sequence(), beforeEnd + 1);
    EXPECT_EQ(board.Snapshot(1005).ports[0].bytes, kTotal);
}

// The port's queue takes the first 16 KB at once; the unit takes them at the line's pace, so
// the rate shown is never above what 115 200 baud carries (10 472 bytes a second).
TEST(BoardModel, TheRateCountsWhatTheUnitTookNeverAboveTheLinesPace) {
    EXPECT_EQ(board::LineBytes(kBaud, 1000), 10472u);
    EXPECT_EQ(board::TakenBytes(16384, kBaud, 500), 5236u);
    EXPECT_EQ(board::TakenBytes(4000, kBaud, 500), 4000u);
    EXPECT_EQ(board::TakenBytes(16384, 0, 500), 16384u);  // no baud known: as written

    board::Board board(kPorts, "", 0);
    board.LoadStart(0, 1, kTotal, kBaud, 1000);
    board.Progress(0, 32768, kTotal, 2000);  // two blocks in the queue after one second
    board::PortState port = board.Snapshot(2000).ports[0];
    EXPECT_EQ(port.bytes, 10472u);
    EXPECT_LE(port.rate, 10472.8);
    EXPECT_GT(port.rate, 10000.0);
    EXPECT_NEAR(static_cast<double>(port.leftMs), (kTotal - 10472) * 1000.0 / port.rate, 1.0);
    EXPECT_EQ(board.Snapshot(3000).ports[0].leftMs, port.leftMs - 1000);  // counts down between progress
    // Another port's change publishes the time left as it stands then, never as at the last progress.
    board.Step(1, Step::WaitingForUnit, 0, "waiting for a unit", 2600);
    EXPECT_EQ(board.Snapshot(2600).ports[0].leftMs, port.leftMs - 600);
}

TEST(BoardModel, AReaderWaitsForTheNextChangeWithoutHoldingThePorts) {
    board::Board board(kPorts, "", 0);
    const uint64_t seen = board.Sequence();
    EXPECT_EQ(board.WaitForChange(seen, 10), seen);  // nothing changed: back at the bound
    std::thread port([&board] { board.Step(1, Step::WaitingForUnit, 0, "waiting for a unit", 50); });
    EXPECT_GT(board.WaitForChange(seen, 5000), seen);
    port.join();
    board.End(60);
    EXPECT_TRUE(board.Snapshot(60).ended);
    EXPECT_EQ(board.WaitForChange(board.Sequence(), 5000), board.Sequence());  // ended: no wait
}

// Loads ended at the given minutes since the start.
void LoadAt(board::Board& board, std::initializer_list<uint64_t> minutes) {
    uint32_t unit = 0;
    for (uint64_t minute : minutes) {
        board.LoadEnd(0, ++unit, LoadEnd{LoadResult::Confirmed, kTotal, kTotal, 24000, ""}, minute * 60000 + 30000);
    }
}

// 63 units in 33 s is no rate; over the run until it has lasted an hour; then over the
// last hour's whole minutes, so the first hour's units leave it as the hours go by.
TEST(BoardModel, UnitsPerHourIsNotToldAtFirstThenOverTheRunThenOverTheLastHour) {
    board::Board board(kPorts, "", 0);
    for (int i = 0; i < 63; ++i) board.LoadEnd(0, 1, LoadEnd{LoadResult::Confirmed, kTotal, kTotal, 1, ""}, 30000);
    EXPECT_LT(board.Snapshot(33000).unitsPerHour, 0.0);
    EXPECT_LT(board.Snapshot(board::kRateSettleMs - 1).unitsPerHour, 0.0);
    EXPECT_DOUBLE_EQ(board.Snapshot(10 * 60000).unitsPerHour, 63 * 6.0);  // 63 in ten minutes
    LoadAt(board, {50, 55});
    EXPECT_DOUBLE_EQ(board.Snapshot(59 * 60000).unitsPerHour, 65 * 60.0 / 59);
    LoadAt(board, {59});
    EXPECT_DOUBLE_EQ(board.Snapshot(60 * 60000).unitsPerHour, 66.0);  // minutes 0 to 59
    LoadAt(board, {60});
    EXPECT_DOUBLE_EQ(board.Snapshot(61 * 60000 + 10).unitsPerHour, 4.0);  // 1 to 60: the first minute's gone
    LoadAt(board, {61});
    EXPECT_DOUBLE_EQ(board.Snapshot(62 * 60000).unitsPerHour, 5.0);   // 2 to 61
    EXPECT_DOUBLE_EQ(board.Snapshot(121 * 60000).unitsPerHour, 1.0);  // 61 to 120
    // Minute 122 takes the ring's slot of minute 61, which has left the hour.
    LoadAt(board, {122});
    EXPECT_DOUBLE_EQ(board.Snapshot(122 * 60000 + 40000).unitsPerHour, 0.0);  // 62 to 121
    EXPECT_DOUBLE_EQ(board.Snapshot(123 * 60000).unitsPerHour, 1.0);          // 63 to 122
    EXPECT_DOUBLE_EQ(board.Snapshot(200 * 60000).unitsPerHour, 0.0);
}

TEST(BoardJson, FieldsInSnakeCaseUnknownsAsNullAndNoLineEndInALine) {
    board::Board board({"COM3", "port\nwith\xff"}, "shift.db", 0);
    board.LoadStart(0, 1, kTotal, kBaud, 0);
    nlohmann::json json = board::ToJson(board.Snapshot(1000));
    EXPECT_EQ(json["records"], "shift.db");
    EXPECT_TRUE(json["yield"].is_null());
    EXPECT_TRUE(json["units_per_hour"].is_null());
    EXPECT_EQ(json["ports"][0]["name"], "COM3");
    EXPECT_EQ(json["ports"][0]["step"], "loading");
    EXPECT_TRUE(json["ports"][0]["left_ms"].is_null());
    EXPECT_EQ(json["ports"][0]["total"], kTotal);
    const std::string line = board::ToJsonLine(board.Snapshot(1000));
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_NE(line.find("port\\nwith"), std::string::npos);

    // A yield of none loaded is 0, not unknown.
    board.LoadEnd(0, 1, LoadEnd{LoadResult::Failed, 100, kTotal, 500, "the unit ended the image"}, 1500);
    EXPECT_EQ(board::ToJson(board.Snapshot(1500))["yield"], 0.0);
}

// A unit's first load decides its first pass: a unit loaded again, here or before this
// shift, and a unit without a serial are not new units.
TEST(BoardModel, TheFirstPassYieldCountsEachSerialsFirstLoadOnly) {
    board::Board board(kPorts, "", 0);
    auto end = [&board](LoadResult result, const char* serial, bool before = false) {
        LoadEnd e{result, kTotal, kTotal, 1000, ""};
        e.serial = serial;
        e.loadedBefore = before;
        board.LoadEnd(0, 1, e, 10);
    };
    EXPECT_TRUE(board::ToJson(board.Snapshot(0))["first_pass_yield"].is_null());
    end(LoadResult::Failed, "A1");
    end(LoadResult::Confirmed, "A1");
    end(LoadResult::Confirmed, "B2");
    end(LoadResult::Confirmed, "C3", true);
    end(LoadResult::Failed, "");
    const board::StationState state = board.Snapshot(20);
    EXPECT_EQ(state.units, 2u);
    EXPECT_EQ(state.firstPass, 1u);
    const nlohmann::json json = board::ToJson(state);
    EXPECT_EQ(json["units"], 2u);
    EXPECT_DOUBLE_EQ(json["first_pass_yield"].get<double>(), 0.5);
}

}  // namespace

TEST(BoardModel, ALoadCutShortByTheStopShowsItsWordsAndCountsNeitherLoadedNorFailed) {
    board::Board board(kPorts, "shift.db", 0);
    board.LoadStart(0, 1, kTotal, kBaud, 1000);
    board.LoadEnd(0, 1, LoadEnd{LoadResult::Stopped, 100, kTotal, 500, "stopped after 100 of 249008 bytes"}, 1500);
    const board::StationState state = board.Snapshot(1500);
    EXPECT_EQ(state.ports[0].result, "stopped");
    EXPECT_EQ(state.ports[0].reason, "stopped after 100 of 249008 bytes");
    EXPECT_FALSE(state.ports[0].failed);
    EXPECT_EQ(state.loaded, 0u);
    EXPECT_EQ(state.failed, 0u);
}
