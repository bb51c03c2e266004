// The station in brief: what the heartbeat carries reads back as the same counters, ports and
// loads; a summary of the wrong shape (the server is shared by the line) is read as far as it
// is sound and never thrown on.
#include <gtest/gtest.h>

#include <string>

#include "board/Board.h"
#include "board/StationSummary.h"

namespace {

TEST(StationSummary, ReadsBackTheCountersPortsLoadsAndForwarding) {
    board::Board board({"fixture 1", "fixture 2"}, "shift.db", 0);
    board.LoadEnd(0, 1, {station::LoadResult::Confirmed, 10, 10, 5, ""}, 10);
    board.LoadEnd(1, 1, {station::LoadResult::Failed, 3, 10, 5, "the unit stopped answering"}, 20);
    board.Step(1, station::Step::PortLost, 1, "port lost", 30);
    board.Server({"db.line3", 4, "", 2}, 40);
    const board::StationState before = board.Snapshot(3600000);

    const std::string carried = board::SummaryJson(before).dump();
    board::StationState after;
    ASSERT_TRUE(board::FromSummary(nlohmann::json::parse(carried), &after));
    EXPECT_EQ(after.loaded, 1u);
    EXPECT_EQ(after.failed, 1u);
    EXPECT_DOUBLE_EQ(after.yield, 0.5);
    EXPECT_DOUBLE_EQ(after.unitsPerHour, before.unitsPerHour);
    EXPECT_EQ(after.elapsedMs, 3600000u);
    EXPECT_EQ(after.server.host, "db.line3");
    EXPECT_EQ(after.server.waiting, 4u);
    EXPECT_EQ(after.server.errors, 2u);
    ASSERT_EQ(after.ports.size(), 2u);
    EXPECT_EQ(after.ports[0].loads, (std::map<std::string, uint64_t>{{"confirmed", 1}}));
    EXPECT_EQ(after.ports[1].step, "port_lost");
    EXPECT_TRUE(after.ports[1].lost && after.ports[1].failed);
    EXPECT_EQ(after.ports[1].reason, "the unit stopped answering");
    EXPECT_EQ(after.ports[1].unit, 1u);
}

TEST(StationSummary, AMisshapenSummaryIsReadAsFarAsItIsSound) {
    board::StationState state;
    EXPECT_FALSE(board::FromSummary(nlohmann::json::array(), &state));
    EXPECT_FALSE(board::FromSummary(nullptr, &state));

    const auto odd = nlohmann::json::parse(R"({"loaded": "many", "failed": -3, "yield": null,
        "records_server": [1], "ports": [7, {"name": 5, "step": "loading", "loads": {"confirmed": "x", "failed": 2},
        "lost": "yes"}, {"name": "fixture 3"}]})");
    ASSERT_TRUE(board::FromSummary(odd, &state));
    EXPECT_EQ(state.loaded, 0u);
    EXPECT_EQ(state.failed, 0u);
    EXPECT_EQ(state.yield, -1.0);
    EXPECT_TRUE(state.server.host.empty());
    ASSERT_EQ(state.ports.size(), 2u);
    EXPECT_EQ(state.ports[0].name, "");
    EXPECT_EQ(state.ports[0].step, "loading");
    EXPECT_FALSE(state.ports[0].lost);
    EXPECT_EQ(state.ports[0].loads, (std::map<std::string, uint64_t>{{"failed", 2}}));
    EXPECT_EQ(state.ports[1].step, board::kOpeningStep);

    // A name or reason is a line of text: one of any length is kept to its first 4096 bytes.
    board::StationState longName;
    const std::string longSummary = R"({"ports": [{"name": ")" + std::string(5000, 'n') + R"("}]})";
    ASSERT_TRUE(board::FromSummary(nlohmann::json::parse(longSummary), &longName));
    EXPECT_EQ(longName.ports.at(0).name, std::string(4096, 'n'));
}

}  // namespace
