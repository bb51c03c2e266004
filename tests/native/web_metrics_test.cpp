// The metrics text: counters per port and result from the board, the ports at each step with
// the steps nobody is at as 0, the forwarding's figures only where a station forwards, the
// heartbeat's families only for samples from heartbeats, and label values that no port name
// can break out of.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/Board.h"
#include "web/Metrics.h"

namespace {

bool Has(const std::string& text, const std::string& line) { return text.find(line + "\n") != std::string::npos; }

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST(WebMetrics, CountsLoadsPerPortAndResultAndPortsPerStepFromTheBoard) {
    board::Board board({"fixture 1", "fixture 2"}, "shift.db", 0);
    station::LoadEnd confirmed{station::LoadResult::Confirmed, 10, 10, 5, ""};
    station::LoadEnd failed{station::LoadResult::NoConfirmation, 4, 10, 5, "no confirmation"};
    board.LoadEnd(0, 1, confirmed, 10);
    board.LoadEnd(0, 2, confirmed, 20);
    board.LoadEnd(1, 1, failed, 30);
    board.Step(0, station::Step::WaitingForUnit, 2, "", 40);
    board.Step(1, station::Step::PortLost, 1, "port lost", 50);
    board.Server({"db.line3", 7, "", 3}, 60);

    const std::string text = web::MetricsText({web::SampleOf(board.Snapshot(70), "bench-2")});
    EXPECT_TRUE(Has(text, "# TYPE varnex_loads_total counter")) << text;
    EXPECT_TRUE(Has(text, "varnex_loads_total{station=\"bench-2\",port=\"fixture 1\",result=\"confirmed\"} 2"));
    EXPECT_TRUE(Has(text, "varnex_loads_total{station=\"bench-2\",port=\"fixture 1\",result=\"failed\"} 0"));
    EXPECT_TRUE(Has(text, "varnex_loads_total{station=\"bench-2\",port=\"fixture 2\",result=\"no_confirmation\"} 1"));
    EXPECT_TRUE(Has(text, "# TYPE varnex_units gauge"));
    EXPECT_TRUE(Has(text, "varnex_units{station=\"bench-2\",step=\"waiting_for_unit\"} 1"));
    EXPECT_TRUE(Has(text, "varnex_units{station=\"bench-2\",step=\"port_lost\"} 1"));
    EXPECT_TRUE(Has(text, "varnex_units{station=\"bench-2\",step=\"loading\"} 0"));
    EXPECT_TRUE(Has(text, "varnex_port_lost{station=\"bench-2\",port=\"fixture 2\"} 1"));
    EXPECT_TRUE(Has(text, "varnex_port_failed{station=\"bench-2\",port=\"fixture 2\"} 1"));
    EXPECT_TRUE(Has(text, "varnex_port_failed{station=\"bench-2\",port=\"fixture 1\"} 0"));
    EXPECT_TRUE(Has(text, "varnex_records_waiting{station=\"bench-2\"} 7"));
    EXPECT_TRUE(Has(text, "varnex_forward_errors_total{station=\"bench-2\"} 3"));
    EXPECT_EQ(text.find("varnex_station_up"), std::string::npos);
    // Each family is introduced once, before its first line.
    EXPECT_EQ(Count(text, "# HELP varnex_loads_total "), 1u);
    EXPECT_LT(text.find("# TYPE varnex_units gauge"), text.find("varnex_units{"));
}

TEST(WebMetrics, LeavesOutTheForwardingOfAStationThatDoesNotForwardAndWritesEveryStationUnderOneFamily) {
    board::Board quiet({"a"}, "", 0);
    web::StationSample heard = web::SampleOf(quiet.Snapshot(0), "bench-1");
    heard.fromHeartbeat = true;
    heard.up = true;
    heard.heartbeatSeconds = 1796710000.5;
    heard.forwarding = true;
    web::StationSample silent = heard;
    silent.station = "bench-3";
    silent.up = false;
    const std::string own = web::MetricsText({web::SampleOf(quiet.Snapshot(0), "bench-1")});
    EXPECT_EQ(own.find("varnex_records_waiting"), std::string::npos) << own;
    EXPECT_EQ(own.find("varnex_forward_errors_total"), std::string::npos);

    const std::string line = web::MetricsText({heard, silent});
    EXPECT_EQ(Count(line, "# TYPE varnex_loads_total counter"), 1u) << line;
    EXPECT_TRUE(Has(line, "varnex_station_up{station=\"bench-1\"} 1"));
    EXPECT_TRUE(Has(line, "varnex_station_up{station=\"bench-3\"} 0"));
    EXPECT_TRUE(Has(line, "varnex_station_last_heartbeat_seconds{station=\"bench-1\"} 1796710000.5"));
    EXPECT_TRUE(Has(line, "varnex_records_waiting{station=\"bench-3\"} 0"));
}

TEST(WebMetrics, EscapesLabelValuesAndReplacesWhatIsNotUtf8) {
    struct Case {
        std::string given;
        std::string written;
    } cases[] = {
        {"fixture \"7\"", "fixture \\\"7\\\""},
        {"C:\\ports\\COM3", "C:\\\\ports\\\\COM3"},
        {"two\nlines", "two\\nlines"},
        {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},
        {"bad\xFF", "bad\xEF\xBF\xBD"},
        {"cut\xE2\x82", "cut\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"overlong\xC0\xAF", "overlong\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"overlong4\xF0\x8F\xBF\xBF", "overlong4\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"emoji\xF0\x9F\x99\x82", "emoji\xF0\x9F\x99\x82"},
        {"surrogate\xED\xA0\x80", "surrogate\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) EXPECT_EQ(web::LabelValue(c.given), c.written) << c.given;
}

}  // namespace
