// The station's board laid out for a terminal of a given size: pure, a state and a size in,
// the lines out, so it is tested on any size without a terminal.
//
// Every line is narrower than the terminal (a line as wide as it makes some terminals wrap)
// and there are fewer lines than rows, so a redraw that moves up by the lines it wrote lands
// where it began. One line per port under the header when they fit; otherwise a compact
// layout: the header, the failed ports first in a line of their own, then every other port
// once as a short tile (its name, its step in a word, its percent) in as few columns as fit.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "board/Board.h"

namespace board {

struct TerminalSize {
    size_t columns = 80;
    size_t rows = 24;
    bool operator==(const TerminalSize& other) const { return columns == other.columns && rows == other.rows; }
    bool operator!=(const TerminalSize& other) const { return !(*this == other); }
};

// How a port stands, for its colour and its one word.
enum class Look { Opening, Waiting, Loading, Confirming, Done, Failed, Lost };
Look LookOf(const PortState& port);

struct LayoutOptions {
    bool colour = false;  // ANSI colours around the states (they take no columns)
    // The fewest lines: the compact layout in as many columns as fit, for a screen where each
    // frame goes below the last.
    bool compact = false;
};

std::vector<std::string> LayoutBoard(const StationState& state, TerminalSize size, const LayoutOptions& options);

// The header line: records file, counters, yield and units per hour (not yet fitted).
std::string HeaderText(const StationState& state);
// A port's state on its own line: "unit 3  loading  49.6 %  10.4 kB/s  0:12 left", its
// step's words, or "failed: unit 2: the reason" (not yet fitted).
std::string PortText(const PortState& port);

}  // namespace board
