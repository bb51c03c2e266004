// Terminal detection on Windows: a console on standard output that accepts the escape
// sequences of in-place redraw (older consoles refuse them and get plain lines); its window's
// size; standard output in binary mode, so that its bytes are the program's own.
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

board::TerminalSize StdoutSize() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return {};
    const SHORT columns = info.srWindow.Right - info.srWindow.Left + 1;
    const SHORT rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    if (columns <= 0 || rows <= 0) return {};
    return {static_cast<size_t>(columns), static_cast<size_t>(rows)};
}

// The console's buffer-size events come through its input queue, which the stop handler's
// Ctrl-C must keep; the size is read on every look instead, which sees the same change.
void WatchResizes() {}

bool TakeResized() {
    static board::TerminalSize last = StdoutSize();
    const board::TerminalSize now = StdoutSize();
    const bool changed = now != last;
    last = now;
    return changed;
}

}  // namespace cli
