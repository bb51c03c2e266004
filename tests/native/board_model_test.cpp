// The station's board model: what a port shows through a unit's cycle, the failure's latch,
// the counters, the throttle on progress, the rate held to the line's pace and the JSON form.
#include <gtest/gtest.h>

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

TEST(BoardJson, FieldsInSnakeCaseUnknownsAsNullAndNoLineEndInALine) {
    board::Board board({"COM3", "port\nwith\xff"}, "shift.db", 0);
    board.LoadStart(0, 1, kTotal, kBaud, 0);
    nlohmann::json json = board::ToJson(board.Snapshot(1000));
    EXPECT_EQ(json["records"], "shift.db");
    EXPECT_TRUE(json["yield"].is_null());
    EXPECT_EQ(json["units_per_hour"], 0.0);
    EXPECT_EQ(json["ports"][0]["name"], "COM3");
    EXPECT_EQ(json["ports"][0]["step"], "loading");
    EXPECT_TRUE(json["ports"][0]["left_ms"].is_null());
    EXPECT_EQ(json["ports"][0]["total"], kTotal);
    const std::string line = board::ToJsonLine(board.Snapshot(1000));
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_NE(line.find("port\\nwith"), std::string::npos);
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
