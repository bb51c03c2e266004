// The board on a terminal (see TerminalBoard.h).
#include "board/TerminalBoard.h"

namespace board {

void TerminalBoard::Draw(const StationState& state, TerminalSize size) {
    std::vector<std::string> frame = LayoutBoard(state, size, options_);
    const bool resized = drawnOnce_ && size != lastSize_;
    const bool bell = state.failed > lastFailed_;
    lastFailed_ = state.failed;
    // The final frame always goes out: the cursor then starts the line below it afresh, over
    // whatever the terminal echoed there (a Ctrl-C's "^C").
    if (drawnOnce_ && !resized && !bell && frame == lastFrame_ && !state.ended) return;
    if (bell) screen_.Bell();
    screen_.Draw(frame, resized);
    lastFrame_ = std::move(frame);
    lastSize_ = size;
    drawnOnce_ = true;
    ++framesDrawn_;
}

}  // namespace board
