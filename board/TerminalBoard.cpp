// The board on a terminal (see TerminalBoard.h).
#include "board/TerminalBoard.h"

namespace board {

void TerminalBoard::Draw(const StationState& state, TerminalSize size) {
    std::vector<std::string> frame = LayoutBoard(state, size, options_);
    const bool resized = drawnOnce_ && size != lastSize_;
    const bool bell = state.failed > lastFailed_;
    lastFailed_ = state.failed;
    if (drawnOnce_ && !resized && !bell && frame == lastFrame_) return;
    if (bell) screen_.Bell();
    screen_.Draw(frame, resized);
    lastFrame_ = std::move(frame);
    lastSize_ = size;
    drawnOnce_ = true;
    ++framesDrawn_;
}

}  // namespace board
