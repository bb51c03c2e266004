// The station's board drawn on a terminal: each frame laid out for the terminal's size and
// written over the one before by the screen, which clears it and draws afresh after a
// resize. A failure rings the bell once. Where the screen cannot move its cursor the frame is
// the compact layout, each one below the last.
#pragma once

#include <string>
#include <vector>

#include "board/Board.h"
#include "board/Screen.h"
#include "board/TerminalLayout.h"

namespace board {

class TerminalBoard {
public:
    TerminalBoard(Screen& screen, bool colour) : screen_(screen), options_{colour, !screen.MovesCursor()} {}
    // Draws state at size unless the frame is the one on the screen already.
    void Draw(const StationState& state, TerminalSize size);
    // How many frames were written, for tests.
    size_t FramesDrawn() const { return framesDrawn_; }

private:
    Screen& screen_;
    LayoutOptions options_;
    std::vector<std::string> lastFrame_;
    TerminalSize lastSize_;
    uint64_t lastFailed_ = 0;
    bool drawnOnce_ = false;
    size_t framesDrawn_ = 0;
};

}  // namespace board
