// Whether standard output is a terminal that takes in-place redraws, or is gone. Defined once per
// platform (posix/, win/); VARNEX_FORCE_TERMINAL=1 forces the terminal form (for tests).
#pragma once

namespace cli {

inline constexpr const char* kForceTerminalVariable = "VARNEX_FORCE_TERMINAL";

bool StdoutIsTerminal();
// Whether standard output can no longer be written: a pipe whose reader has gone, a closed
// terminal or a closed descriptor. A file or a live terminal is not closed.
bool StdoutClosed();

}  // namespace cli
