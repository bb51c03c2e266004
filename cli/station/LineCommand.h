// `varnex line URL --http [ADDR:]PORT`: the line page, every station of the line from its
// heartbeats on the records server, and their metrics, served with the station's web server
// (its limits, headers and token). A watcher thread reads the server every few seconds and
// the page's requests are answered from what it read, so browsers never reach the server.
#pragma once

#include <atomic>
#include <ostream>

#include "cli/Options.h"

namespace cli {

// Serves until *cancel is raised: 0 then; 2 (usage) when the page cannot be served.
int RunLineCommand(const LineOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel);

}  // namespace cli
