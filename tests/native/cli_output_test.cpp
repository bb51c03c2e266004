// varnex's output forms: the live renderer's throttle and frame, the JSON records and the
// summary, driven with "now" handed in.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "board/TextFit.h"
#include "cli/output/JsonEvents.h"
#include "cli/output/LiveRenderer.h"
#include "cli/output/Summary.h"
#include "cli/records/RecordsOutput.h"
#include "cli/station/StationBoard.h"
#include "station/PortCycle.h"

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
    cli::LiveRenderer renderer(std::make_unique<board::VtScreen>(out), kPorts);
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
    cli::LiveRenderer renderer(std::make_unique<board::VtScreen>(out), kPorts);
    renderer.OnEvent({EventKind::Start, 0, 0, kTotal, "sending"}, 0);
    renderer.OnEvent({EventKind::Waiting, 1, 0, 0, "waiting up to 120 s for CTS"}, 0);
    renderer.OnTick(200);
    out.str("");
    renderer.OnEvent(Progress(0, 124504), 10000);  // half the image in 10 s
    std::string frame = out.str();
    EXPECT_EQ(frame.rfind("\x1b[2A", 0), 0u) << "moves up over the two lines drawn before";
    EXPECT_NE(frame.find("124504 / 249008 bytes   50.0 %  12.5 kB/s  0:10 left"), std::string::npos) << frame;
    EXPECT_EQ(frame.find("/dev/ttyUSB1"), std::string::npos) << "its unchanged line is stepped over: " << frame;
    renderer.OnEvent({EventKind::Done, 0, kTotal, kTotal, "249008 bytes sent"}, 20000);
    out.str("");
    renderer.OnTick(30000);  // nothing visible changed: nothing written
    EXPECT_EQ(out.str(), "");
}

TEST(CliLiveRenderer, TheFrameFitsTheTerminalWithLongNamesAndMoreUnitsThanRows) {
    std::vector<std::string> ports;
    for (int i = 0; i < 12; ++i) {
        ports.push_back("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A5018" + std::to_string(10 + i) + "-if00-port0");
    }
    std::ostringstream out;
    cli::LiveRenderer renderer(std::make_unique<board::VtScreen>(out), ports, [] {
        return board::TerminalSize{60, 8};
    });
    renderer.OnEvent({EventKind::Failed, 0, 0, 0, "cannot open: no such device or directory, check the cable"}, 0);
    std::istringstream frame(out.str());
    size_t lines = 0;
    for (std::string line; std::getline(frame, line); ++lines) {
        const std::string shown = line.substr(line.rfind('\r') + 1, line.find("\x1b[K") - line.rfind('\r') - 1);
        EXPECT_LT(board::DisplayWidth(shown), 60u) << shown;
    }
    EXPECT_EQ(lines, 7u);
    EXPECT_NE(out.str().find("-if00-port0  FAILED: cannot"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("+6 more units"), std::string::npos) << out.str();
}

TEST(CliLiveRenderer, AKeptLineStaysAboveTheFrameAndLeavesTheUnitAsItWas) {
    std::ostringstream out;
    cli::LiveRenderer renderer(std::make_unique<board::VtScreen>(out), kPorts);
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

// The station's terminal board draws the model from the main thread's ticks: when it
// changed, at most every 100 ms, at once after a resize. (The latch, the bell and the layout
// are the board's own, tested there.)
TEST(CliStationBoard, DrawsTheModelWhenItChangedAtMostEveryHundredMsAndAtOnceOnAResize) {
    board::Board model(kPorts, "shift.db", 0);
    std::ostringstream out;
    board::TerminalSize size{80, 24};
    cli::StationBoard screen(
        std::make_unique<board::VtScreen>(out), model, [&size] { return size; }, false);
    screen.Tick(0, false);
    screen.Tick(500, false);
    EXPECT_EQ(screen.FramesDrawn(), 1u);  // nothing changed
    model.LoadStart(0, 1, kTotal, 115200, 510);
    screen.Tick(520, false);
    EXPECT_EQ(screen.FramesDrawn(), 2u);
    model.Step(1, station::Step::WaitingForUnit, 0, "waiting for a unit", 530);
    screen.Tick(540, false);
    EXPECT_EQ(screen.FramesDrawn(), 2u);  // held to the interval
    screen.Tick(620, false);
    EXPECT_EQ(screen.FramesDrawn(), 3u);
    EXPECT_NE(out.str().find("unit 1  loading"), std::string::npos);
    size = {40, 10};
    screen.Tick(630, true);
    EXPECT_EQ(screen.FramesDrawn(), 4u);
    EXPECT_NE(out.str().rfind("\x1b[2J"), std::string::npos);
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
