// Ports an operator can tell apart: the part of each name that differs from the station's
// other ports, found once, and kept whole wherever the terminal board must shorten a name.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "board/PortNames.h"
#include "board/TerminalLayout.h"
#include "board/TextFit.h"

namespace {

using board::DisplayWidth;

constexpr board::TerminalSize k80x24{80, 24};

std::vector<std::string> Parts(const std::vector<std::string>& names) {
    const std::vector<board::NamePart> parts = board::DistinctParts(names);
    std::vector<std::string> texts;
    for (size_t i = 0; i < names.size(); ++i) texts.push_back(parts[i].Of(names[i]));
    return texts;
}

std::string Serial(size_t index) {
    char text[16];
    std::snprintf(text, sizeof text, "A5%04zuBI", index + 185);
    return text;
}

std::string ById(const std::string& serial, const char* interface = "if00") {
    return "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_" + serial + "-" + interface + "-port0";
}

std::string ByPath(const std::string& hub) {
    return "/dev/serial/by-path/pci-0000:00:14.0-usb-0:" + hub + ":1.0-port0";
}

size_t Count(const std::vector<std::string>& lines, const std::string& text) {
    size_t found = 0;
    for (const std::string& line : lines) {
        for (size_t at = line.find(text); at != std::string::npos; at = line.find(text, at + 1)) ++found;
    }
    return found;
}

TEST(BoardPortNames, EachKindOfNameKeepsWhatSetsItApart) {
    // A by-id name's whole serial, even where two serials share most of their characters; a
    // two-port adapter's ports by their interface.
    EXPECT_EQ(Parts({ById("A50085BI"), ById("A50085BJ"), "/dev/serial/by-id/usb-Prolific_PL2303-if00-port0"}),
              (std::vector<std::string>{"A50085BI", "A50085BJ", "PL2303"}));
    EXPECT_EQ(Parts({ById("FT4XQ1", "if00"), ById("FT4XQ1", "if01"), ById("A50085BI")}),
              (std::vector<std::string>{"FT4XQ1-if00-port0", "FT4XQ1-if01-port0", "A50085BI"}));
    // A by-path name's hub position; the newer "usbv2" form too.
    EXPECT_EQ(Parts({ByPath("1.4.2"), ByPath("1.4.3"), "/dev/serial/by-path/pci-0000:00:14.0-usbv2-0:2:1.0-port0"}),
              (std::vector<std::string>{"1.4.2", "1.4.3", "2"}));
    // Other names less what they all share, no word split; one alone keeps its last element;
    // the same name twice keeps it whole.
    EXPECT_EQ(Parts({"/dev/ttyUSB10", "/dev/ttyUSB11", "/dev/ttyACM0"}),
              (std::vector<std::string>{"ttyUSB10", "ttyUSB11", "ttyACM0"}));
    EXPECT_EQ(Parts({"fixture 1 left", "fixture 12 left", ById("A50085BI"), "/dev/ttyS0"}),
              (std::vector<std::string>{"1", "12", "A50085BI", "ttyS0"}));
    EXPECT_EQ(Parts({"/dev/ttyS0"}), (std::vector<std::string>{"ttyS0"}));
    EXPECT_EQ(Parts({"COM3", "COM3"}), (std::vector<std::string>{"COM3", "COM3"}));
    EXPECT_EQ(Parts({"/dev/a/ttyS0", "/dev/b/ttyS0"}), (std::vector<std::string>{"/dev/a/ttyS0", "/dev/b/ttyS0"}));
}

TEST(BoardPortNames, FittingANameKeepsItsPartWholeAndMarksWhatIsLeftOut) {
    const std::string name = ById("A50085BI");
    const board::NamePart part = board::DistinctParts({name, ById("A50085BJ")})[0];
    EXPECT_EQ(board::FitKeeping(name, part, 200), name);
    EXPECT_EQ(board::FitKeeping(name, part, 30), "/dev/seria\xE2\x80\xA6"
                                                 "A50085BI-if00-port0");
    EXPECT_EQ(board::FitKeeping(name, part, 14), "\xE2\x80\xA6"
                                                 "A50085BI-if0\xE2\x80\xA6");
    EXPECT_EQ(board::FitKeeping(name, part, 8), "A50085BI");
    EXPECT_EQ(board::FitKeeping(name, part, 5), "A\xE2\x80\xA6"
                                                "5BI");
    EXPECT_EQ(board::FitKeeping("fixture 12 left", {8, 2}, 8), "\xE2\x80\xA6"
                                                               "12 left");  // the tail before the head
    for (size_t width : {5u, 8u, 9u, 14u, 30u}) EXPECT_EQ(DisplayWidth(board::FitKeeping(name, part, width)), width);
}

// 32 by-id names that differ only in their serial, 30 by-path names that differ only in the
// hub position: each tile of the compact layout (and of the frame that fits 80 x 24) shows
// its port's part whole, once.
TEST(BoardTerminalLayout, TilesTellPortsApartThatDifferOnlyInTheirSerialOrHubPosition) {
    std::vector<std::string> byId;
    for (size_t i = 0; i < 32; ++i) byId.push_back(ById(Serial(i)));
    std::vector<std::string> byPath;
    for (size_t i = 0; i < 30; ++i)
        byPath.push_back(ByPath("1." + std::to_string(i / 7 + 1) + "." + std::to_string(i % 7 + 1)));
    for (bool compact : {false, true}) {
        board::Board ids(byId, "/var/lib/varnex/line-3/shift-2024-05-17-night.db", 0);
        ids.LoadEnd(7, 1, station::LoadEnd{station::LoadResult::Failed, 10, 100, 100, "the port is gone"}, 100);
        std::vector<std::string> lines = board::LayoutBoard(ids.Snapshot(100), k80x24, {false, compact});
        ASSERT_LT(lines.size(), 24u);
        for (const std::string& line : lines) EXPECT_LT(DisplayWidth(line), 80u) << line;
        for (size_t i = 0; i < 32; ++i) EXPECT_EQ(Count(lines, Serial(i)), 1u) << compact << " " << Serial(i);
        EXPECT_EQ(Count(lines, "shift-2024-05-17-night.db"), 1u) << lines[0];  // the header keeps the file's name

        board::Board paths(byPath, "", 0);
        lines = board::LayoutBoard(paths.Snapshot(0), k80x24, {false, compact});
        for (size_t i = 0; i < 30; ++i) {
            const std::string hub = "1." + std::to_string(i / 7 + 1) + "." + std::to_string(i % 7 + 1) + " ";
            EXPECT_EQ(Count(lines, hub), 1u) << compact << " " << hub;
        }
    }
}

// Four by-id ports on 80 columns: each line keeps as much of the name as fits, the serial whole.
TEST(BoardTerminalLayout, FourByIdPortsOnEightyColumnsKeepTheirWholeSerial) {
    std::vector<std::string> names;
    for (size_t i = 0; i < 4; ++i) names.push_back(ById(Serial(i)));
    board::Board model(names, "shift.db", 0);
    const std::vector<std::string> lines = board::LayoutBoard(model.Snapshot(0), k80x24, {});
    ASSERT_EQ(lines.size(), 5u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(lines[i + 1].rfind("/dev/serial", 0), 0u) << lines[i + 1];
        EXPECT_NE(lines[i + 1].find(Serial(i) + "-if00-port0"), std::string::npos) << lines[i + 1];
    }
}

}  // namespace
