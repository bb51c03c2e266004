// Terminal detection on POSIX: isatty on standard output (a terminal takes escape
// sequences); poll tells a closed one; the window's size from TIOCGWINSZ, and SIGWINCH
// raising a flag when it changes. Output is never translated here.
#include "cli/terminal/Terminal.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "cli/terminal/ConsoleScreen.h"

namespace cli {

namespace {

std::atomic<bool> g_resized{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the resize flag is set from a signal handler");

extern "C" void OnResizeSignal(int) { g_resized.store(true); }

}  // namespace

TerminalKind StdoutTerminal() { return isatty(STDOUT_FILENO) == 1 ? TerminalKind::Vt : TerminalKind::None; }

std::unique_ptr<Console> OpenStdoutConsole() { return nullptr; }  // terminals take escape sequences

bool StdoutClosed() {
    pollfd entry{STDOUT_FILENO, 0, 0};  // no events asked: only the error states answer
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}

void KeepStdoutBytes() {}  // the C library writes the bytes as they are

board::TerminalSize StdoutSize() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        return {size.ws_col, size.ws_row};
    }
    return {};
}

void WatchResizes() {
    struct sigaction action {};
    action.sa_handler = OnResizeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // the ports' reads and writes go on undisturbed
    sigaction(SIGWINCH, &action, nullptr);
}

bool TakeResized() { return g_resized.exchange(false); }

}  // namespace cli
