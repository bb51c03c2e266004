// The console drawn in place by its own calls (see ConsoleScreen.h).
#include "cli/terminal/ConsoleScreen.h"

#include "board/TextFit.h"

namespace cli {

namespace {
constexpr const char* kBell = "\a";
}  // namespace

std::string ConsoleScreen::Padded(const std::string& line, const ConsoleBuffer& buffer) const {
    // The buffer's last column stays free: a character there wraps the cursor to the next row,
    // and the frame's rows would no longer be its lines.
    const size_t width = buffer.columns > 1 ? buffer.columns - 1 : 1;
    return board::PadRight(board::CutEnd(line, width), width) + '\n';
}

bool ConsoleScreen::MoveToFrameTop(const ConsoleBuffer& buffer, size_t* top) {
    // Measured from the cursor, which stands just below the frame: when the buffer scrolled
    // up under the frame's last lines, the frame moved up with it.
    *top = buffer.cursorRow > shown_.size() ? buffer.cursorRow - shown_.size() : 0;
    return console_->MoveTo(0, *top);
}

void ConsoleScreen::BlankRows(const ConsoleBuffer& buffer, size_t from, size_t to) {
    if (to > from && to <= buffer.rows) console_->Blank(0, from, (to - from) * buffer.columns);
}

void ConsoleScreen::Draw(const std::vector<std::string>& frame, bool afresh) {
    before_.flush();
    ConsoleBuffer buffer;
    size_t top = 0;
    if (!console_->Read(&buffer) || buffer.columns == 0) {
        // Nothing to measure by: written where the cursor is, as a scrolling screen would.
        for (const std::string& line : frame) console_->Write(line + '\n');
        shown_.clear();
        return;
    }
    if (afresh) {
        // The window's rows blanked and the frame drawn at its top.
        BlankRows(buffer, buffer.windowTop, buffer.windowTop + buffer.windowRows);
        top = buffer.windowTop;
        console_->MoveTo(0, top);
        shown_.clear();
    } else {
        MoveToFrameTop(buffer, &top);
    }
    std::string text;
    for (size_t i = 0; i < frame.size(); ++i) {
        // A line feed steps over a row that shows the line already.
        text += i < shown_.size() && shown_[i] == frame[i] ? std::string("\n") : Padded(frame[i], buffer);
    }
    console_->Write(text);
    // Rows the longer frame left: they are below the cursor, which stays where it is.
    if (frame.size() < shown_.size()) BlankRows(buffer, top + frame.size(), top + shown_.size());
    shown_ = frame;
}

void ConsoleScreen::Keep(const std::string& line) {
    before_.flush();
    ConsoleBuffer buffer;
    size_t top = 0;
    if (!console_->Read(&buffer) || buffer.columns == 0) {
        console_->Write(line + '\n');
    } else {
        MoveToFrameTop(buffer, &top);
        console_->Write(Padded(line, buffer));
        // The rest of the frame is drawn again below the kept line.
        BlankRows(buffer, top + 1, top + shown_.size());
    }
    shown_.clear();
}

void ConsoleScreen::Bell() { console_->Write(kBell); }

}  // namespace cli
