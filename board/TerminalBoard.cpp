// The board on a terminal (see TerminalBoard.h).
#include "board/TerminalBoard.h"

namespace board {

namespace {
constexpr const char* kClearToEnd = "\x1b[K";
constexpr const char* kClearBelow = "\x1b[J";
constexpr const char* kClearScreen = "\x1b[2J\x1b[H";
constexpr const char* kBell = "\a";
}  // namespace

void TerminalBoard::Draw(const StationState& state, TerminalSize size) {
    std::vector<std::string> frame = LayoutBoard(state, size, options_);
    const bool resized = drawnOnce_ && size != lastSize_;
    const bool bell = state.failed > lastFailed_;
    lastFailed_ = state.failed;
    if (drawnOnce_ && !resized && !bell && frame == lastFrame_) return;
    if (bell) out_ << kBell;
    if (resized) {
        out_ << kClearScreen;
    } else if (drawnOnce_ && !lastFrame_.empty()) {
        out_ << "\x1b[" << lastFrame_.size() << "A";
    }
    for (const std::string& line : frame) out_ << '\r' << line << kClearToEnd << '\n';
    if (frame.size() < lastFrame_.size()) out_ << kClearBelow;  // what the longer frame left
    out_.flush();
    lastFrame_ = std::move(frame);
    lastSize_ = size;
    drawnOnce_ = true;
    ++framesDrawn_;
}

}  // namespace board
