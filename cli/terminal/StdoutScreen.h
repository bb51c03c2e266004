// What standard output is to a command's presenters: whether it is a terminal (or forced to be
// one for tests), whether colour is wanted, its size, and the screen a board draws through.
// Asked of the platform's Terminal once, and the same answer kept for the whole run.
#pragma once

#include <atomic>
#include <memory>
#include <ostream>

#include "board/Screen.h"
#include "board/TerminalLayout.h"

namespace cli {

bool OnTerminal();
// Colour where escape sequences are taken, unless NO_COLOR is set to anything.
bool ColourWanted();
// A forced terminal (tests) that is not one has no size to read: 80 x 24.
board::TerminalSize OutputSize();
// How frames reach the terminal on out: escape sequences, unless out is a console that has
// none (its own calls move the cursor, or nothing can).
std::unique_ptr<board::Screen> MakeScreen(std::ostream& out);
// Nobody is left to read how the run went: it ends as Ctrl-C ends it.
void StopIfOutputGone(std::ostream& out, std::atomic<bool>& cancel);

}  // namespace cli
