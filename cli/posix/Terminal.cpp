// Terminal detection on POSIX: isatty on standard output.
#include "cli/Terminal.h"

#include <unistd.h>

namespace cli {

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace cli
