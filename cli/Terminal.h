// Whether standard output is a terminal that takes in-place redraws. Defined once per
// platform (posix/, win/); VARNEX_FORCE_TERMINAL=1 forces the terminal form (for tests).
#pragma once

namespace cli {

inline constexpr const char* kForceTerminalVariable = "VARNEX_FORCE_TERMINAL";

bool StdoutIsTerminal();

}  // namespace cli
