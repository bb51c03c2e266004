// The terminal on Windows: every console call of varnex is here. What the console on standard
// output can do (escape sequences, or only its own calls, or neither: older consoles refuse
// virtual terminal processing); its window's size; standard output in binary mode, so that its
// bytes are the program's own; and the console's own calls that draw a frame in place.
#include "cli/terminal/Terminal.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "cli/terminal/ConsoleScreen.h"

namespace cli {

namespace {

constexpr DWORD kVirtualTerminal = 0x0004;  // ENABLE_VIRTUAL_TERMINAL_PROCESSING
constexpr wchar_t kBlank = L' ';

bool ReadBufferInfo(HANDLE out, CONSOLE_SCREEN_BUFFER_INFO* info) {
    return GetConsoleScreenBufferInfo(out, info) && info->dwSize.X > 0 && info->dwSize.Y > 0;
}

class StdoutConsole final : public Console {
public:
    explicit StdoutConsole(HANDLE out) : out_(out) {}

    bool Read(ConsoleBuffer* buffer) override {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (!ReadBufferInfo(out_, &info)) return false;
        buffer->columns = static_cast<size_t>(info.dwSize.X);
        buffer->rows = static_cast<size_t>(info.dwSize.Y);
        buffer->cursorRow = static_cast<size_t>(info.dwCursorPosition.Y);
        buffer->windowTop = static_cast<size_t>(info.srWindow.Top);
        buffer->windowRows = static_cast<size_t>(info.srWindow.Bottom - info.srWindow.Top + 1);
        return true;
    }

    bool MoveTo(size_t column, size_t row) override { return SetConsoleCursorPosition(out_, Cell(column, row)) != 0; }

    // As UTF-16, so the console shows every character whatever its code page.
    void Write(const std::string& text) override {
        if (text.empty()) return;
        const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        if (length <= 0) return;
        std::wstring wide(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
        const wchar_t* next = wide.data();
        DWORD left = static_cast<DWORD>(wide.size());
        while (left > 0) {
            DWORD written = 0;
            if (!WriteConsoleW(out_, next, left, &written, nullptr) || written == 0) return;  // the console is gone
            next += written;
            left -= written;
        }
    }

    void Blank(size_t column, size_t row, size_t count) override {
        DWORD blanked = 0;
        FillConsoleOutputCharacterW(out_, kBlank, static_cast<DWORD>(count), Cell(column, row), &blanked);
    }

private:
    static COORD Cell(size_t column, size_t row) { return {static_cast<SHORT>(column), static_cast<SHORT>(row)}; }

    HANDLE out_;
};

// Wine's console takes the virtual terminal mode but writes the sequences as text.
bool ConsoleTakesModeOnly() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

TerminalKind StdoutTerminal() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || out == nullptr || !GetConsoleMode(out, &mode)) return TerminalKind::None;
    const bool sequences = (mode & kVirtualTerminal) != 0 || SetConsoleMode(out, mode | kVirtualTerminal);
    if (sequences && !ConsoleTakesModeOnly()) return TerminalKind::Vt;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    return ReadBufferInfo(out, &info) ? TerminalKind::Console : TerminalKind::Unmoving;
}

std::unique_ptr<Console> OpenStdoutConsole() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (out == INVALID_HANDLE_VALUE || out == nullptr || !ReadBufferInfo(out, &info)) return nullptr;
    return std::make_unique<StdoutConsole>(out);
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

// The console's buffer-size events come through its input queue. Ctrl-C never enters that
// queue while input is processed (the stop handler gets it), but reading the queue would
// take the operator's keys too, needs the window-input mode set on a console shared with the
// shell, and a window resized within its buffer raises no event. The size is read on every
// look instead, which sees both the buffer's and the window's changes.
void WatchResizes() {}

bool TakeResized() {
    static board::TerminalSize last = StdoutSize();
    const board::TerminalSize now = StdoutSize();
    const bool changed = now != last;
    last = now;
    return changed;
}

}  // namespace cli
