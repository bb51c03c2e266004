// The station's board drawn on a terminal: each frame laid out for the terminal's size and
// written over the one before (ANSI cursor movement), the screen cleared and drawn afresh
// after a resize (the terminal may have rewrapped what stood there). A failure rings the
// bell once.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "board/Board.h"
#include "board/TerminalLayout.h"

namespace board {

class TerminalBoard {
public:
    TerminalBoard(std::ostream& out, bool colour) : out_(out), options_{colour} {}
    // Draws state at size unless the frame is the one on the screen already.
    void Draw(const StationState& state, TerminalSize size);
    // How many frames were written, for tests.
    size_t FramesDrawn() const { return framesDrawn_; }

private:
    std::ostream& out_;
    LayoutOptions options_;
    std::vector<std::string> lastFrame_;
    TerminalSize lastSize_;
    uint64_t lastFailed_ = 0;
    bool drawnOnce_ = false;
    size_t framesDrawn_ = 0;
};

}  // namespace board
