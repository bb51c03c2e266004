// A console without escape sequences drawn in place by its own calls, on a fake console that
// keeps a buffer of cells as the real one does (a line feed at the last row scrolls it).
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/terminal/ConsoleScreen.h"

namespace {

constexpr size_t kColumns = 40;
constexpr size_t kRows = 10;
constexpr size_t kWindowRows = 6;

class FakeConsole final : public cli::Console {
public:
    struct State {
        std::vector<std::string> rows = std::vector<std::string>(kRows, std::string(kColumns, ' '));
        size_t column = 0;
        size_t row = 0;
        size_t windowTop = kRows - kWindowRows;
        bool readable = true;
        size_t bells = 0;
    };
    explicit FakeConsole(State& state) : s_(state) {}

    bool Read(cli::ConsoleBuffer* buffer) override {
        if (!s_.readable) return false;
        *buffer = {kColumns, kRows, s_.row, s_.windowTop, kWindowRows};
        return true;
    }
    bool MoveTo(size_t column, size_t row) override {
        if (column >= kColumns || row >= kRows) return false;
        s_.column = column;
        s_.row = row;
        return true;
    }
    // ASCII and "…" (shown here as '~', one cell as on the console).
    void Write(const std::string& text) override {
        for (size_t i = 0; i < text.size(); ++i) {
            char c = text[i];
            if (c == '\a') {
                ++s_.bells;
                continue;
            }
            if (c == '\n') {
                NextRow();
                continue;
            }
            if (static_cast<unsigned char>(c) >= 0x80) {
                c = '~';
                i += 2;
            }
            s_.rows[s_.row][s_.column] = c;
            if (++s_.column == kColumns) NextRow();  // the console wraps
        }
    }
    void Blank(size_t column, size_t row, size_t count) override {
        for (size_t cell = row * kColumns + column; count > 0 && cell < kRows * kColumns; ++cell, --count) {
            s_.rows[cell / kColumns][cell % kColumns] = ' ';
        }
    }

private:
    void NextRow() {
        s_.column = 0;
        if (s_.row + 1 < kRows) {
            ++s_.row;
            return;
        }
        s_.rows.erase(s_.rows.begin());
        s_.rows.push_back(std::string(kColumns, ' '));
    }
    State& s_;
};

std::string Row(const FakeConsole::State& state, size_t row) {
    const std::string& text = state.rows[row];
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

struct Fixture {
    FakeConsole::State state;
    std::ostringstream before;
    cli::ConsoleScreen screen{std::make_unique<FakeConsole>(state), before};
};

// Drawn near the buffer's end, the first frame scrolls the buffer; every later frame lands on
// the rows the last one took, shorter ones blank what the longer left, and nothing above the
// frame is touched.
TEST(CliConsoleScreen, RedrawsOverTheLastFrameWhereverTheBufferScrolledIt) {
    Fixture f;
    f.state.row = kRows - 3;
    f.state.rows[kRows - 4] = "the shell's prompt" + std::string(kColumns - 18, ' ');
    f.screen.Draw({"header", "port 1  waiting", "port 2  waiting", "port 3  waiting"}, false);
    // Scrolled up by two rows: the prompt with it, the frame below it and the cursor below that.
    EXPECT_EQ(Row(f.state, kRows - 6), "the shell's prompt");
    EXPECT_EQ(Row(f.state, kRows - 5), "header");
    EXPECT_EQ(Row(f.state, kRows - 2), "port 3  waiting");
    EXPECT_EQ(f.state.row, kRows - 1);

    f.screen.Draw({"header", "port 1  loading 50.0 % and a text that runs long", "port 2  done\xE2\x80\xA6"}, false);
    EXPECT_EQ(Row(f.state, kRows - 6), "the shell's prompt");
    EXPECT_EQ(Row(f.state, kRows - 5), "header");
    EXPECT_EQ(Row(f.state, kRows - 4), "port 1  loading 50.0 % and a text that~");  // never wrapped
    EXPECT_EQ(Row(f.state, kRows - 3), "port 2  done~");                            // "…" padded as one cell
    EXPECT_EQ(Row(f.state, kRows - 2), "");                                         // what the longer frame left
    EXPECT_EQ(f.state.row, kRows - 2);

    // A kept line goes where the frame stood; the next frame below it.
    f.screen.Keep("COM3: LOG: motor warm");
    f.screen.Draw({"header", "port 1  done"}, false);
    EXPECT_EQ(Row(f.state, kRows - 6), "the shell's prompt");
    EXPECT_EQ(Row(f.state, kRows - 5), "COM3: LOG: motor warm");
    EXPECT_EQ(Row(f.state, kRows - 4), "header");
    EXPECT_EQ(Row(f.state, kRows - 3), "port 1  done");
    EXPECT_EQ(Row(f.state, kRows - 2), "");
    EXPECT_EQ(f.state.row, kRows - 2);
    f.screen.Bell();
    EXPECT_EQ(f.state.bells, 1u);
}

// After a resize the window is blanked and the frame drawn at its top; a console that cannot
// be read gets the lines where its cursor is.
TEST(CliConsoleScreen, AfreshAtTheWindowsTopAndUnreadableAtTheCursor) {
    Fixture f;
    f.state.row = 2;
    f.state.rows[kRows - 1] = "left over" + std::string(kColumns - 9, ' ');
    f.screen.Draw({"one", "two"}, true);
    EXPECT_EQ(Row(f.state, f.state.windowTop), "one");
    EXPECT_EQ(Row(f.state, f.state.windowTop + 1), "two");
    EXPECT_EQ(Row(f.state, kRows - 1), "");
    EXPECT_EQ(f.state.row, f.state.windowTop + 2);

    f.state.readable = false;
    f.screen.Draw({"three"}, false);
    EXPECT_EQ(Row(f.state, f.state.windowTop + 2), "three");
}

}  // namespace
