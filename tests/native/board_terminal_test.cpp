// The board's terminal layout on a fake size: no line as wide as the terminal, names
// shortened in the middle, reasons cut, the compact layout's every port once, a resize, the
// bell once per failure and colour only when asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "board/BoardJson.h"
#include "board/Screen.h"
#include "board/TerminalBoard.h"
#include "board/TerminalLayout.h"
#include "board/TextFit.h"

namespace {

using board::DisplayWidth;
using station::LoadEnd;
using station::LoadResult;
using station::Step;

constexpr uint64_t kTotal = 249008;
constexpr uint32_t kBaud = 115200;
constexpr board::TerminalSize k80x24{80, 24};

std::vector<std::string> Names(size_t count) {
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i) names.push_back("/dev/ttyUSB" + std::to_string(i));
    return names;
}

void ExpectFits(const std::vector<std::string>& lines, board::TerminalSize size) {
    EXPECT_LT(lines.size(), size.rows);
    for (const std::string& line : lines) EXPECT_LT(DisplayWidth(line), size.columns) << line;
}

// How many lines name the port (as a whole word: "ttyUSB1" is not in "ttyUSB12").
size_t Mentions(const std::vector<std::string>& lines, const std::string& name) {
    size_t found = 0;
    for (const std::string& line : lines) {
        for (size_t at = line.find(name); at != std::string::npos; at = line.find(name, at + 1)) {
            const size_t end = at + name.size();
            if (end == line.size() || line[end] == ' ') ++found;
        }
    }
    return found;
}

TEST(BoardTextFit, NamesShortenedInTheMiddleAndTextCutAtTheEnd) {
    const std::string name = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50185BI-if00-port0";
    const std::string shortened = board::ShortenMiddle(name, 30);
    EXPECT_EQ(DisplayWidth(shortened), 30u);
    EXPECT_EQ(shortened.rfind("/dev/serial", 0), 0u) << shortened;
    EXPECT_NE(shortened.find("5BI-if00-port0"), std::string::npos) << shortened;
    EXPECT_NE(shortened.find("\xE2\x80\xA6"), std::string::npos);
    EXPECT_EQ(board::ShortenMiddle("COM3", 30), "COM3");
    EXPECT_EQ(board::CutEnd("no confirmation from the unit", 10), "no confir\xE2\x80\xA6");
    EXPECT_EQ(DisplayWidth(board::CutEnd("caf\xC3\xA9 au lait", 5)), 5u);  // cut between characters
}

TEST(BoardTerminalLayout, LongNamesAndALongReasonFitEightyColumns) {
    std::vector<std::string> names;
    for (const char* serial : {"A50185BI", "A50185BJ", "A50185BK", "A50185BL"}) {
        names.push_back(std::string("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_") + serial + "-if00-port0");
    }
    board::Board model(names, "/var/lib/varnex/line-3/shift-2024-05-17-night.db", 0);
    model.LoadStart(0, 1, kTotal, kBaud, 0);
    model.Progress(0, 50000, kTotal, 5000);
    model.LoadStart(1, 1, kTotal, kBaud, 0);
    model.LoadEnd(1, 1,
                  LoadEnd{LoadResult::NoConfirmation, kTotal, kTotal, 60000,
                          "no confirmation from the unit within 30 s of the last byte (CTS stayed up): load it again"},
                  60000);
    const std::vector<std::string> lines = board::LayoutBoard(model.Snapshot(60000), k80x24, {});
    ExpectFits(lines, k80x24);
    ASSERT_EQ(lines.size(), 5u);
    // The file's own name and the counters, in their narrow form, the folder shortened.
    EXPECT_EQ(lines[0], "records: /var/l\xE2\x80\xA6shift-2024-05-17-night.db  loaded 0  failed 1  yield 0.0 %  -/h");
    EXPECT_NE(lines[1].find("loading"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("failed: unit 1: no confirmation"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[2].substr(lines[2].size() - 3), "\xE2\x80\xA6");
    for (const char* serial : {"A50185BI", "A50185BJ", "A50185BK", "A50185BL"}) {
        EXPECT_EQ(Mentions(lines, std::string(serial).substr(6) + "-if00-port0"), 1u) << serial;
    }
}

// The forwarding under the header while rows wait: how many, for which server and why, cut
// to the width and taking a row from the ports; nothing once the server has them all. The
// JSON carries it too.
TEST(BoardTerminalLayout, TheHeaderSaysWhatWaitsForTheRecordsServerAndWhy) {
    board::Board model(Names(32), "shift.db", 0);
    const std::vector<std::string> alone = board::LayoutBoard(model.Snapshot(0), k80x24, {});
    const uint64_t before = model.Sequence();
    model.Server({"db.line3", 3, "connection refused"}, 10);
    model.Server({"db.line3", 3, "connection refused"}, 20);
    EXPECT_EQ(model.Sequence(), before + 1) << "an unchanged state is not published again";
    std::vector<std::string> lines = board::LayoutBoard(model.Snapshot(20), k80x24, {});
    ExpectFits(lines, k80x24);
    EXPECT_EQ(lines[0], alone[0]);
    EXPECT_EQ(lines[1], "records: 3 waiting for db.line3 (connection refused)");
    for (const std::string& name : Names(32)) EXPECT_EQ(Mentions(lines, name.substr(5)), 1u) << name;
    const nlohmann::json json = board::ToJson(model.Snapshot(20));
    EXPECT_EQ(json["records_server"]["waiting"], 3);
    EXPECT_EQ(json["records_server"]["reason"], "connection refused");

    model.Server({"db.line3", 41,
                  "the server did not answer within 10 s: varnex tries again with a growing pause, loading goes on"},
                 30);
    lines = board::LayoutBoard(model.Snapshot(30), k80x24, {});
    ExpectFits(lines, k80x24);
    EXPECT_EQ(lines[1].rfind("records: 41 waiting for db.line3 (the server did not answer", 0), 0u) << lines[1];

    model.Server({"db.line3", 0, ""}, 40);
    EXPECT_EQ(board::LayoutBoard(model.Snapshot(40), k80x24, {}), alone);
    EXPECT_TRUE(board::ToJson(model.Snapshot(40))["records_server"]["reason"].is_null());
}

TEST(BoardTerminalLayout, ThirtyTwoAndSixtyFourPortsShowTheHeaderAndEveryPortOnceFailuresFirst) {
    for (size_t count : {32u, 64u}) {
        const std::vector<std::string> names = Names(count);
        board::Board model(names, "shift.db", 0);
        for (size_t i = 0; i < count; i += 3) model.LoadStart(i, 1, kTotal, kBaud, 0);
        model.LoadEnd(5, 1, LoadEnd{LoadResult::Failed, 10, kTotal, 100, "the port is gone"}, 100);
        model.LoadEnd(17, 1, LoadEnd{LoadResult::Failed, 10, kTotal, 100, "the port is gone"}, 100);
        const std::vector<std::string> lines = board::LayoutBoard(model.Snapshot(1000), k80x24, {});
        ExpectFits(lines, k80x24);
        EXPECT_EQ(lines[0].rfind("records: shift.db", 0), 0u);
        EXPECT_EQ(lines[1].rfind("FAILED ", 0), 0u) << lines[1];
        EXPECT_NE(lines[1].find("ttyUSB5"), std::string::npos);
        EXPECT_NE(lines[1].find("ttyUSB17"), std::string::npos);
        for (const std::string& name : names) EXPECT_EQ(Mentions(lines, name.substr(5)), 1u) << count << " " << name;
    }
}

// Ports that exactly fit the rows get a line each; more than fit go into tiles filled column
// by column (a port keeps its place while the failures stay), and the count of those not
// shown takes the last row of the screen, never a row past it.
TEST(BoardTerminalLayout, TheRowsAPortsLinesAndTilesTake) {
    std::vector<std::string> names;
    for (size_t i = 0; i < 64; ++i) names.push_back("u" + std::to_string(i));
    const board::TerminalSize fourPorts{80, 6};  // the header, four ports and the free row
    board::Board few({names.begin(), names.begin() + 4}, "", 0);
    const std::vector<std::string> full = board::LayoutBoard(few.Snapshot(0), fourPorts, {});
    ASSERT_EQ(full.size(), 5u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(full[i + 1].rfind(names[i] + "  ", 0), 0u) << full[i + 1];

    const board::TerminalSize small{40, 6};  // three columns of tiles, three rows of them
    board::Board many(names, "", 0);
    const std::vector<std::string> lines = board::LayoutBoard(many.Snapshot(0), small, {});
    ExpectFits(lines, small);
    ASSERT_EQ(lines.size(), 5u);
    for (size_t row = 0; row < 3; ++row) {
        for (size_t column = 0; column < 3; ++column) {
            EXPECT_EQ(Mentions({lines[row + 1]}, names[column * 3 + row]), 1u) << lines[row + 1];
        }
    }
    EXPECT_EQ(lines[4], "+55 more ports");
}

TEST(BoardTerminalBoard, RedrawsInPlaceClearsOnAResizeAndRingsOncePerFailure) {
    board::Board model(Names(4), "", 0);
    std::ostringstream out;
    board::VtScreen screen(out);
    board::TerminalBoard view(screen, false);
    view.Draw(model.Snapshot(0), k80x24);
    view.Draw(model.Snapshot(0), k80x24);
    EXPECT_EQ(view.FramesDrawn(), 1u);  // nothing changed: nothing written
    model.LoadEnd(2, 1, LoadEnd{LoadResult::Failed, 10, kTotal, 100, "the port is gone"}, 100);
    out.str("");
    view.Draw(model.Snapshot(100), k80x24);
    view.Draw(model.Snapshot(200), k80x24);
    const std::string drawn = out.str();
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\a'), 1);
    EXPECT_EQ(drawn.find("\x1b[5A"), 1u);  // after the bell: up over the five lines drawn
    // Narrowed to 40 x 6: the screen is cleared and every port still shows once.
    out.str("");
    const board::TerminalSize small{40, 6};
    view.Draw(model.Snapshot(300), small);
    const std::string frame = out.str();
    EXPECT_EQ(frame.rfind("\x1b[2J", 0), 0u);
    std::vector<std::string> lines = board::LayoutBoard(model.Snapshot(300), small, {});
    ExpectFits(lines, small);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Mentions(lines, "ttyUSB" + std::to_string(i)), 1u) << i;
    // The final frame is written though unchanged: the line below it starts afresh.
    const size_t frames = view.FramesDrawn();
    view.Draw(model.Snapshot(300), small);
    EXPECT_EQ(view.FramesDrawn(), frames);
    model.End(400);
    view.Draw(model.Snapshot(400), small);
    EXPECT_EQ(view.FramesDrawn(), frames + 1);
}

// The sequence that turns one frame into the next: up over the old one, only the lines that
// changed written, the rest stepped over, what a longer frame left cleared; afresh all of it.
TEST(BoardScreen, VtRewriteWritesOnlyTheChangedLinesOverTheLastFrame) {
    const std::vector<std::string> before = {"header 1", "port A  waiting", "port B  loading", "+2 more ports"};
    const std::vector<std::string> after = {"header 2", "port A  waiting", "port B  done"};
    EXPECT_EQ(board::VtRewrite(before, after, false), "\x1b[4A\rheader 2\x1b[K\n\n\rport B  done\x1b[K\n\x1b[J");
    EXPECT_EQ(board::VtRewrite(after, before, false),
              "\x1b[3A\rheader 1\x1b[K\n\n\rport B  loading\x1b[K\n\r+2 more ports\x1b[K\n");
    EXPECT_EQ(board::VtRewrite({}, {"a"}, false), "\ra\x1b[K\n");
    EXPECT_EQ(board::VtRewrite(before, {"a"}, true), "\x1b[2J\x1b[H\ra\x1b[K\n");
}

// Where the cursor cannot move, each frame goes below the last: the compact layout in as
// many columns as show the names whole, so 32 ports take ten lines, not eighteen, each once.
TEST(BoardTerminalBoard, WithoutCursorMovementTheFrameIsCompactAndEveryPortOnce) {
    board::Board model(Names(32), "shift.db", 0);
    model.LoadEnd(3, 1, LoadEnd{LoadResult::Failed, 10, kTotal, 100, "the port is gone"}, 100);
    std::ostringstream out;
    board::ScrollingScreen screen(out);
    board::TerminalBoard view(screen, false);
    view.Draw(model.Snapshot(100), k80x24);
    model.LoadStart(4, 2, kTotal, kBaud, 200);
    view.Draw(model.Snapshot(200), k80x24);
    const std::string drawn = out.str();
    EXPECT_EQ(drawn.find('\x1b'), std::string::npos);
    const std::vector<std::string> lines = board::LayoutBoard(model.Snapshot(200), k80x24, {false, true});
    ExpectFits(lines, k80x24);
    EXPECT_EQ(lines.size(), 10u);
    for (size_t i = 0; i < 32; ++i) EXPECT_EQ(Mentions(lines, "ttyUSB" + std::to_string(i)), 1u) << i;
    // Both frames whole, one below the other after a blank line.
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\n'), static_cast<long>(2 * lines.size() + 1)) << drawn;
    EXPECT_NE(drawn.find("\n\n" + lines[0] + "\n"), std::string::npos);
}

// A message written during the station takes the board's last line, cut to the width, and
// a port's row for it: every port still shows once. The JSON carries it whole.
TEST(BoardTerminalLayout, AMessageDuringTheStationIsTheBoardsLastLine) {
    board::Board model(Names(32), "shift.db", 0);
    const std::string message =
        "varnex: the records cannot be written (disk full): the loads under way finish, no new unit is armed";
    model.Notice(message, 10);
    for (bool compact : {false, true}) {
        const std::vector<std::string> lines = board::LayoutBoard(model.Snapshot(10), k80x24, {false, compact});
        ExpectFits(lines, k80x24);
        EXPECT_EQ(lines.back(), board::CutEnd(message, 79));
        for (const std::string& name : Names(32)) EXPECT_EQ(Mentions(lines, name.substr(5)), 1u) << name;
    }
    const std::vector<std::string> four = board::LayoutBoard(board::Board(Names(4), "", 0).Snapshot(0), k80x24, {});
    EXPECT_EQ(four.size(), 5u);  // no message: no line for it
    EXPECT_EQ(board::ToJson(model.Snapshot(10))["notice"], message);
}

TEST(BoardTerminalLayout, ColourOnlyWhenAskedAndItTakesNoColumns) {
    board::Board model(Names(2), "", 0);
    model.LoadEnd(0, 1, LoadEnd{LoadResult::Failed, 10, kTotal, 100, "the port is gone"}, 100);
    model.LoadEnd(1, 1, LoadEnd{LoadResult::Confirmed, kTotal, kTotal, 100, ""}, 100);
    model.Step(1, Step::WaitingForUnitToGo, 1, "switch the unit off and take it away", 100);
    const board::StationState state = model.Snapshot(200);
    const std::vector<std::string> plain = board::LayoutBoard(state, k80x24, {});
    const std::vector<std::string> coloured = board::LayoutBoard(state, k80x24, {true});
    EXPECT_EQ(plain[1].find('\x1b'), std::string::npos);
    EXPECT_NE(coloured[1].find("\x1b[31m"), std::string::npos);  // failed: red
    EXPECT_NE(coloured[2].find("\x1b[32m"), std::string::npos);  // done: green
    EXPECT_EQ(board::LookOf(state.ports[1]), board::Look::Done);
}

}  // namespace
