// What kind of terminal standard output is, whether it is gone, and that its bytes leave as
// written. Defined once per platform (posix/, win/); VARNEX_FORCE_TERMINAL=1 forces the
// terminal form (for tests).
#pragma once

#include "board/TerminalLayout.h"

namespace cli {

inline constexpr const char* kForceTerminalVariable = "VARNEX_FORCE_TERMINAL";

enum class TerminalKind {
    None,      // a file, a pipe: plain lines
    Vt,        // takes escape sequences: a POSIX terminal, a console with virtual terminal processing
    Console,   // a console without them whose buffer can be read: drawn by the console's own calls
    Unmoving,  // a console that can do neither: each frame below the last
};
// Asks the console for virtual terminal processing where it has it off.
TerminalKind StdoutTerminal();
// Whether standard output can no longer be written: a pipe whose reader has gone, a closed
// terminal or a closed descriptor. A file or a live terminal is not closed.
bool StdoutClosed();
// Standard output then carries exactly the bytes the program writes, the same on every system:
// CSV's CR LF and the LF of JSON and plain lines (Windows' C library would otherwise turn each
// LF into CR LF, and CSV's line end into CR CR LF). Called once, before anything is written.
void KeepStdoutBytes();

// The size of the terminal on standard output now; 80 x 24 when it cannot be read.
board::TerminalSize StdoutSize();
// From now on a resize is noted (SIGWINCH on POSIX; Windows' console is asked its size on
// every look, which sees a change of its buffer or window as soon as one is made).
void WatchResizes();
// Whether the terminal was resized since the last call.
bool TakeResized();

}  // namespace cli
