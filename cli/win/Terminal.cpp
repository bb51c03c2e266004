// Terminal detection on Windows: a console on standard output that accepts the escape
// sequences of in-place redraw (older consoles refuse them and get plain lines).
#include "cli/Terminal.h"

#include <windows.h>

namespace cli {

bool StdoutIsTerminal() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) return false;
    constexpr DWORD kVirtualTerminal = 0x0004;  // ENABLE_VIRTUAL_TERMINAL_PROCESSING
    return (mode & kVirtualTerminal) != 0 || SetConsoleMode(out, mode | kVirtualTerminal);
}

}  // namespace cli
