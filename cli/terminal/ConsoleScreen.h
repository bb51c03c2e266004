// A console without escape sequences, drawn in place by its own calls: the cursor put on the
// top of the frame drawn last, the lines that changed written padded (or cut) to the buffer's
// width less one column, so the console never wraps, what a longer frame left blanked. The
// console's calls are behind Console, so the decisions are the same on every build and the
// Win32 calls stay in one file (win/Terminal.cpp). No colour: such a console would print the
// escape sequences as text.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "board/Screen.h"

namespace cli {

// What the console's screen buffer says of itself, in character cells.
struct ConsoleBuffer {
    size_t columns = 0;    // the buffer's width
    size_t rows = 0;       // the buffer's height
    size_t cursorRow = 0;  // the row the cursor is on
    size_t windowTop = 0;  // the first row the window shows
    size_t windowRows = 0;
};

class Console {
public:
    virtual ~Console() = default;
    virtual bool Read(ConsoleBuffer* buffer) = 0;
    virtual bool MoveTo(size_t column, size_t row) = 0;
    // Writes UTF-8 text at the cursor; a line feed goes to the next row's start, scrolling the
    // buffer up at its last row.
    virtual void Write(const std::string& text) = 0;
    // Blanks count cells from (column, row) on, running on across rows; the cursor stays.
    virtual void Blank(size_t column, size_t row, size_t count) = 0;
};

// The console on standard output; null where the program has none (POSIX) or its buffer
// cannot be read. Defined once per platform.
std::unique_ptr<Console> OpenStdoutConsole();

class ConsoleScreen final : public board::Screen {
public:
    // before: the stream whose text must reach the console before a frame is drawn.
    ConsoleScreen(std::unique_ptr<Console> console, std::ostream& before)
        : console_(std::move(console)), before_(before) {}
    void Draw(const std::vector<std::string>& frame, bool afresh) override;
    void Keep(const std::string& line) override;
    void Bell() override;

private:
    // The row the frame drawn last begins on, the cursor put there; false: the console
    // cannot be read, so the text is written where the cursor is.
    bool MoveToFrameTop(const ConsoleBuffer& buffer, size_t* top);
    // Blanks rows [from, to) of the old frame.
    void BlankRows(const ConsoleBuffer& buffer, size_t from, size_t to);
    std::string Padded(const std::string& line, const ConsoleBuffer& buffer) const;

    std::unique_ptr<Console> console_;
    std::ostream& before_;
    std::vector<std::string> shown_;
};

}  // namespace cli
