// Terminal detection on POSIX: isatty on standard output; poll tells a closed one. Output is
// never translated here.
#include "cli/Terminal.h"

#include <poll.h>
#include <unistd.h>

namespace cli {

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

bool StdoutClosed() {
    pollfd entry{STDOUT_FILENO, 0, 0};  // no events asked: only the error states answer
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}

void KeepStdoutBytes() {}  // the C library writes the bytes as they are

}  // namespace cli
