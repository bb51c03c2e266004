// The line at a glance: a station is up until 15 s without a heartbeat, then silent, and
// ended once its stop is on the server whatever its silence; its counters and ports come from
// its summary, a row whose summary is not JSON still shows; the shift's figures and the
// server's state ride along.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/LineBoard.h"

namespace {

records::StationHeard Heard(const std::string& name, int64_t silentMs, const std::string& endedAt = "",
                            const std::string& summary = "{}") {
    records::StationHeard heard;
    heard.station = name;
    heard.silentMs = silentMs;
    heard.endedAt = endedAt;
    heard.summary = summary;
    heard.boardUrl = "http://" + name + ":8417/";
    return heard;
}

TEST(LineBoard, AStationIsUpThenSilentAfterFifteenSecondsAndEndedOnceItsStopIsThere) {
    struct Case {
        int64_t silentMs;
        const char* endedAt;
        const char* presence;
    } cases[] = {
        {0, "", "up"},
        {board::kSilentAfterMs, "", "up"},
        {board::kSilentAfterMs + 1, "", "silent"},
        {0, "2026-12-08T14:00:00.000Z", "ended"},
        {board::kSilentAfterMs * 10, "2026-12-08T14:00:00.000Z", "ended"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(board::PresenceName(board::PresenceOf(Heard("bench-1", c.silentMs, c.endedAt))), c.presence)
            << c.silentMs << " " << c.endedAt;
    }
}

TEST(LineBoard, TheJsonCarriesEachStationsCountersPortsAndTheShiftsFigures) {
    const std::string summary = R"({"loaded": 9, "failed": 1, "yield": 0.9, "units_per_hour": 120.5,
        "records_server": {"host": "db", "waiting": 3, "errors": 0},
        "ports": [{"name": "fixture 1", "step": "loading", "unit": 4, "failed": false, "reason": "", "lost": false},
                  {"name": "fixture 2", "step": "waiting_for_unit", "unit": 5, "failed": true,
                   "reason": "no confirmation", "lost": false}]})";
    records::LineShiftFigures shift;
    shift.hours.push_back({"bench-1", "2026-12-08T06:00:00Z", 9, 1});
    shift.reasons.push_back({"no confirmation", 1});
    const board::LineServer server{"db", false, "the server answered no statement within its time",
                                   "2026-12-08T07:00:00.000Z"};
    const nlohmann::json line =
        board::LineJson({Heard("bench-1", 1000, "", summary), Heard("bench-2", 60000, "", "not json")}, shift, 8,
                        server);

    ASSERT_EQ(line["stations"].size(), 2u);
    const nlohmann::json& first = line["stations"][0];
    EXPECT_EQ(first["presence"], "up");
    EXPECT_EQ(first["loaded"], 9);
    EXPECT_EQ(first["failed"], 1);
    EXPECT_DOUBLE_EQ(first["yield"].get<double>(), 0.9);
    EXPECT_EQ(first["records_waiting"], 3);
    EXPECT_EQ(first["board_url"], "http://bench-1:8417/");
    EXPECT_TRUE(first["first_pass_yield"].is_null());
    ASSERT_EQ(first["ports"].size(), 2u);
    EXPECT_EQ(first["ports"][1]["reason"], "no confirmation");
    EXPECT_TRUE(first["ports"][1]["failed"].get<bool>());
    const nlohmann::json& second = line["stations"][1];
    EXPECT_EQ(second["presence"], "silent");
    EXPECT_EQ(second["loaded"], 0);
    EXPECT_TRUE(second["yield"].is_null());
    EXPECT_TRUE(second["ports"].empty());

    EXPECT_EQ(line["units_per_hour"][0]["loaded"], 9);
    EXPECT_EQ(line["failures"][0]["reason"], "no confirmation");
    EXPECT_FALSE(line["server"]["reachable"].get<bool>());
    EXPECT_EQ(line["server"]["read_at"], "2026-12-08T07:00:00.000Z");
    EXPECT_EQ(line["silent_after_ms"], board::kSilentAfterMs);
}

}  // namespace
