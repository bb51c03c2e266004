// Terminal detection on Windows: a console on standard output that accepts the escape
// sequences of in-place redraw (older consoles refuse them and get plain lines); standard
// output in binary mode, so that its bytes are the program's own.
#include "cli/Terminal.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace cli {

bool StdoutIsTerminal() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) return false;
    constexpr DWORD kVirtualTerminal = 0x0004;  // ENABLE_VIRTUAL_TERMINAL_PROCESSING
    return (mode & kVirtualTerminal) != 0 || SetConsoleMode(out, mode | kVirtualTerminal);
}

bool StdoutClosed() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == INVALID_HANDLE_VALUE || out == nullptr) return false;  // never given one: nothing to lose
    if (GetFileType(out) != FILE_TYPE_PIPE) return false;
    // A pipe whose reader has gone answers a zero-byte peek with a broken pipe.
    return !PeekNamedPipe(out, nullptr, 0, nullptr, nullptr, nullptr) && GetLastError() == ERROR_BROKEN_PIPE;
}

void KeepStdoutBytes() { _setmode(_fileno(stdout), _O_BINARY); }

}  // namespace cli
