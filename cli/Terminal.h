// Whether standard output is a terminal that takes in-place redraws, or is gone, and that its
// bytes leave as written. Defined once per platform (posix/, win/); VARNEX_FORCE_TERMINAL=1
// forces the terminal form (for tests).
#pragma once

namespace cli {

inline constexpr const char* kForceTerminalVariable = "VARNEX_FORCE_TERMINAL";

bool StdoutIsTerminal();
// Whether standard output can no longer be written: a pipe whose reader has gone, a closed
// terminal or a closed descriptor. A file or a live terminal is not closed.
bool StdoutClosed();
// Standard output then carries exactly the bytes the program writes, the same on every system:
// CSV's CR LF and the LF of JSON and plain lines (Windows' C library would otherwise turn each
// LF into CR LF, and CSV's line end into CR CR LF). Called once, before anything is written.
void KeepStdoutBytes();

}  // namespace cli
