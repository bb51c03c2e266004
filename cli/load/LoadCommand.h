// The one-shot loads, download and erase: the image and the records made ready before any
// port is touched, then one worker per port and the summary.
#pragma once

#include <atomic>
#include <ostream>

#include "cli/Options.h"

namespace cli {

// cancel is raised by Ctrl-C and the other stop signals, and here when standard output has
// closed.
int RunDownloadCommand(const DownloadOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel);
int RunEraseCommand(const EraseOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel);

}  // namespace cli
