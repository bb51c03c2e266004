// The terminal form: one live line per unit, the whole frame redrawn in place by one
// renderer at most every 100 ms, and at once on a unit's end or failure. The frame fits the
// terminal as the station's board does: no line as wide as the terminal (long port names
// shortened in the middle, long texts cut), no more lines than rows (the last says how many
// units are not shown), the screen drawn afresh after a resize. The screen writes the frames
// (escape sequences, the console's own calls, or each below the last where nothing can move
// the cursor: then a frame at most every few seconds).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "board/Screen.h"
#include "board/TerminalLayout.h"
#include "cli/output/UnitBoard.h"
#include "cli/output/UnitEvents.h"

namespace cli {

inline constexpr uint64_t kRedrawIntervalMs = 100;
// Where each frame goes below the last, fewer frames keep the screen readable.
inline constexpr uint64_t kScrollingRedrawIntervalMs = 5000;
uint64_t RedrawIntervalMs(const board::Screen& screen);

// Reads the terminal's size at each redraw.
using SizeReader = std::function<board::TerminalSize()>;

class LiveRenderer final : public Presenter {
public:
    // size: null for 80 x 24.
    LiveRenderer(std::unique_ptr<board::Screen> screen, const std::vector<std::string>& ports,
                 SizeReader size = nullptr);
    void OnEvent(const UnitEvent& event, uint64_t nowMs) override;
    void OnTick(uint64_t nowMs) override;
    void Finish(uint64_t nowMs) override;
    // How many frames were written, for tests of the throttle.
    size_t FramesDrawn() const { return framesDrawn_; }

private:
    std::string Line(const UnitState& unit, uint64_t nowMs, size_t nameWidth) const;
    std::vector<std::string> Frame(uint64_t nowMs, board::TerminalSize size) const;
    void Draw(uint64_t nowMs);
    void PrintAbove(const UnitEvent& event, uint64_t nowMs);

    std::unique_ptr<board::Screen> screen_;
    uint64_t intervalMs_;
    UnitBoard board_;
    SizeReader size_;
    board::TerminalSize lastSize_;
    std::vector<std::string> lastFrame_;
    uint64_t lastDrawMs_ = 0;
    bool drawnOnce_ = false;
    size_t framesDrawn_ = 0;
};

}  // namespace cli
