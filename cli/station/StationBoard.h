// The station on a terminal: the board's model drawn by the terminal view from the main
// thread's ticks, at most every 100 ms and only when something changed (a step, a load's
// progress, a resize, a second of time left), written by the screen it is given (every few
// seconds where each frame goes below the last). The ports' threads never wait on the
// terminal.
#pragma once

#include <functional>
#include <memory>

#include "board/Board.h"
#include "board/Screen.h"
#include "board/TerminalBoard.h"
#include "cli/output/LiveRenderer.h"

namespace cli {

class StationBoard {
public:
    StationBoard(std::unique_ptr<board::Screen> screen, const board::Board& model, SizeReader size, bool colour)
        : model_(model),
          size_(std::move(size)),
          screen_(std::move(screen)),
          intervalMs_(RedrawIntervalMs(*screen_)),
          view_(*screen_, colour) {}
    // resized: the terminal said its size changed (drawn at once).
    void Tick(uint64_t nowMs, bool resized);
    // The final frame.
    void Finish(uint64_t nowMs);
    size_t FramesDrawn() const { return view_.FramesDrawn(); }

private:
    const board::Board& model_;
    SizeReader size_;
    std::unique_ptr<board::Screen> screen_;
    uint64_t intervalMs_;
    board::TerminalBoard view_;
    uint64_t drawnSequence_ = 0;
    uint64_t lastDrawMs_ = 0;
    bool drawnOnce_ = false;
};

}  // namespace cli
