// varnex's output forms: the live renderer's throttle and frame, the JSON records and the
// summary, driven with "now" handed in.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "cli/JsonEvents.h"
#include "cli/LiveRenderer.h"
#include "cli/RecordsOutput.h"
#include "cli/StationBoard.h"
#include "cli/Summary.h"

namespace {

using cli::EventKind;
using cli::UnitEvent;

const std::vector<std::string> kPorts = {"/dev/ttyUSB0", "/dev/ttyUSB1"};
constexpr uint64_t kTotal = 249008;

UnitEvent Progress(size_t unit, uint64_t bytes) { return {EventKind::Progress, unit, bytes, kTotal, ""}; }

std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

TEST(CliLiveRenderer, RedrawsAtMostEveryHundredMsButAtOnceOnAnEnd) {
    std::ostringstream out;
    cli::LiveRenderer renderer(out, kPorts);
    renderer.OnEvent({EventKind::Start, 0, 0, kTotal, "sending"}, 1000);
    size_t frames = renderer.FramesDrawn();
    // A progress event every 10 ms for one second: about ten frames, not a hundred.
    for (uint64_t t = 1010; t <= 2000; t += 10) renderer.OnEvent(Progress(0, (t - 1000) * 100), t);
    size_t drawn = renderer.FramesDrawn() - frames;
    EXPECT_GE(drawn, 9u);
    EXPECT_LE(drawn, 11u);
    // A failure 1 ms after a frame is drawn at once, not held back by the throttle.
    renderer.OnEvent(Progress(1, 5), 2100);
    size_t before = renderer.FramesDrawn();
    renderer.OnEvent({EventKind::Failed, 1, 0, 0, "no CTS within 5 s"}, 2101);
    EXPECT_EQ(renderer.FramesDrawn(), before + 1);
    EXPECT_NE(out.str().rfind("FAILED: no CTS within 5 s"), std::string::npos);
}

TEST(CliLiveRenderer, OneLinePerUnitRedrawnInPlaceWithRateAndTimeLeft) {
    std::ostringstream out;
    cli::LiveRenderer renderer(out, kPorts);
    renderer.OnEvent({EventKind::Start, 0, 0, kTotal, "sending"}, 0);
    renderer.OnEvent({EventKind::Waiting, 1, 0, 0, "waiting up to 120 s for CTS"}, 0);
    renderer.OnTick(200);
    out.str("");
    renderer.OnEvent(Progress(0, 124504), 10000);  // half the image in 10 s
    std::string frame = out.str();
    EXPECT_EQ(frame.rfind("\x1b[2A", 0), 0u) << "moves up over the two lines drawn before";
    EXPECT_NE(frame.find("124504 / 249008 bytes   50.0 %  12.5 kB/s  0:10 left"), std::string::npos) << frame;
    EXPECT_NE(frame.find("/dev/ttyUSB1  waiting up to 120 s for CTS"), std::string::npos) << frame;
    renderer.OnEvent({EventKind::Done, 0, kTotal, kTotal, "249008 bytes sent"}, 20000);
    out.str("");
    renderer.OnTick(30000);  // nothing visible changed: nothing written
    EXPECT_EQ(out.str(), "");
}

TEST(CliLiveRenderer, AKeptLineStaysAboveTheFrameAndLeavesTheUnitAsItWas) {
    std::ostringstream out;
    cli::LiveRenderer renderer(out, kPorts);
    renderer.OnEvent({EventKind::Start, 0, 0, kTotal, "sending"}, 1000);
    renderer.OnEvent({EventKind::Log, 0, 0, 0, "LOG: motor warm"}, 1010);
    renderer.OnEvent({EventKind::Done, 0, kTotal, kTotal, "all there"}, 1500);
    const std::string text = out.str();
    size_t kept = text.find("/dev/ttyUSB0: LOG: motor warm");
    ASSERT_NE(kept, std::string::npos);
    // The frame is drawn again below the kept line, and the log line did not end the unit.
    EXPECT_NE(text.find("0 / 249008 bytes", kept), std::string::npos);
    EXPECT_NE(text.find("done: all there", kept), std::string::npos);
}

TEST(CliJsonEvents, ProgressAtMostFourASecondPerUnitOtherEventsAlways) {
    std::ostringstream out;
    cli::JsonEvents events(out, kPorts, 500);
    events.OnEvent({EventKind::Start, 0, 0, kTotal, "sending"}, 1000);
    for (uint64_t t = 1000; t < 2000; t += 10) {
        events.OnEvent(Progress(0, t), t);
        events.OnEvent(Progress(1, t), t);
    }
    events.OnEvent({EventKind::Done, 0, kTotal, kTotal, "249008 bytes sent"}, 2000);
    events.OnEvent({EventKind::Failed, 1, 16384, kTotal, "the port is gone"}, 2000);
    std::vector<nlohmann::json> lines = JsonLines(out.str());
    size_t progress[2] = {0, 0};
    for (const nlohmann::json& line : lines) {
        if (line["event"] == "progress") ++progress[line["port"] == kPorts[1] ? 1 : 0];
    }
    EXPECT_EQ(progress[0], 4u);
    EXPECT_EQ(progress[1], 4u);
    EXPECT_EQ(lines.front()["event"], "start");
    EXPECT_EQ(lines.front()["total"], kTotal);
    EXPECT_EQ(lines.front()["t_ms"], 500);
    const nlohmann::json& failed = lines.back();
    EXPECT_EQ(failed["event"], "failed");
    EXPECT_EQ(failed["port"], kPorts[1]);
    EXPECT_EQ(failed["reason"], "the port is gone");
    EXPECT_EQ(failed["bytes"], 16384);
}

TEST(CliJsonEvents, TextThatIsNotUtf8IsReplacedNotThrownOn) {
    std::ostringstream out;
    cli::JsonEvents events(out, {"/dev/tty\xff"}, 0);
    events.OnEvent({EventKind::Failed, 0, 0, 0, "cannot open: \xc3"}, 0);
    std::vector<nlohmann::json> lines = JsonLines(out.str());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["event"], "failed");
}

TEST(CliSummary, RowPerUnitAndCountsInBothForms) {
    cli::UnitBoard board(kPorts);
    board.Apply({EventKind::Start, 0, 0, kTotal, "sending"}, 1000);
    board.Apply({EventKind::Done, 0, kTotal, kTotal, "249008 bytes sent"}, 25000);
    board.Apply({EventKind::Failed, 1, 0, 0, "no CTS within 5 s"}, 6000);
    board.Apply({EventKind::Done, 1, 0, 0, "late"}, 7000);  // an end is final
    EXPECT_TRUE(board.AnyFailed());

    std::ostringstream table;
    cli::WriteSummary(table, board, 30000, false);
    EXPECT_NE(table.str().find("done"), std::string::npos);
    EXPECT_NE(table.str().find("0:24"), std::string::npos);
    EXPECT_NE(table.str().find("FAILED"), std::string::npos);
    EXPECT_NE(table.str().find("2 units: 1 done, 1 failed"), std::string::npos) << table.str();

    std::ostringstream json;
    cli::WriteSummary(json, board, 30000, true);
    nlohmann::json summary = nlohmann::json::parse(json.str());
    EXPECT_EQ(summary["event"], "summary");
    EXPECT_EQ(summary["failed"], 1);
    EXPECT_EQ(summary["units"][0]["ms"], 24000);
    EXPECT_EQ(summary["units"][1]["result"], "failed");
    EXPECT_EQ(summary["units"][1]["detail"], "no CTS within 5 s");
}

}  // namespace

TEST(CliStationBoard, AFailureStaysOnItsLineWithOneBellUntilThePortsNextUnitStarts) {
    std::ostringstream out;
    cli::StationBoard board(out, kPorts, "shift.db", 0);
    UnitEvent start{EventKind::Start, 0, 0, kTotal, "unit 1: sending"};
    start.cycleUnit = 1;
    board.OnEvent(start, 1000);
    board.OnEvent(Progress(0, kTotal / 2), 2000);
    EXPECT_NE(board.Frame(2000)[1].find("unit 1  loading  50.0 %"), std::string::npos) << board.Frame(2000)[1];
    board.OnEvent({EventKind::Failed, 0, 100, kTotal, "unit 1: the unit ended the image after 100 bytes"}, 3000);
    UnitEvent step{EventKind::Step, 0, 0, 0, "switch the unit off and take it away"};
    board.OnEvent(step, 3100);
    board.OnTick(3300);
    EXPECT_NE(board.Frame(3300)[1].find("failed: unit 1: the unit ended"), std::string::npos);
    const std::string drawn = out.str();
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\a'), 1);
    board.OnEvent({EventKind::Done, 1, kTotal, kTotal, "unit 1 loaded and confirmed"}, 3600000);
    EXPECT_EQ(board.Frame(3600000)[0], "records: shift.db   loaded: 1   failed: 1   units/hour: 1.0");
    start.cycleUnit = 2;
    board.OnEvent(start, 3600100);
    EXPECT_NE(board.Frame(3600100)[1].find("unit 2  loading"), std::string::npos);
}

TEST(CliRecordsOutput, CsvFieldsAreQuotedAsRfc4180AndLinesEndInCrLf) {
    EXPECT_EQ(cli::CsvField("plain text"), "plain text");
    EXPECT_EQ(cli::CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(cli::CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(cli::CsvField("two\nlines"), "\"two\nlines\"");
    records::Row row;
    row.id = 3;
    row.port = "COM3";
    row.reason = "failed, \"badly\"";
    std::ostringstream csv;
    cli::WriteRows(csv, {row}, cli::RecordsFormat::Csv);
    std::string text = csv.str();
    EXPECT_EQ(text.substr(0, text.find("\r\n")).rfind("id,started_at,", 0), 0u);
    EXPECT_NE(text.find(",\"failed, \"\"badly\"\"\","), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    std::ostringstream json;
    cli::WriteRows(json, {row}, cli::RecordsFormat::Json);
    auto lines = JsonLines(json.str());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["reason"], "failed, \"badly\"");
    EXPECT_TRUE(lines[0]["ended_at"].is_null());
}
