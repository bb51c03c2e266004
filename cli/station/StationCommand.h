// varnex station: the loading station put together from its parts: the image and the records
// made ready before any port is touched, the board's model with its terminal and web views,
// one port cycle per fixture, and the line's records server fed as rows complete.
#pragma once

#include <atomic>
#include <ostream>

#include "cli/Options.h"

namespace cli {

// One cycle per port until Ctrl-C, --count or --stop-on-failure; cancel is raised by the stop
// signals, and here when standard output has closed.
int RunStationCommand(const StationOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel);

}  // namespace cli
