// Which room runs which command: the runners the command line hands each parsed command to.
// Each command's putting-together lives in its own room (ports/, load/, service/, station/,
// records/); this is the one place that names them all.
#pragma once

#include <atomic>
#include <functional>
#include <ostream>

#include "cli/Options.h"

namespace cli {

// Runs a command with the stop signals turned into cancel for its whole run.
using StopGuard = std::function<int(const std::function<int()>&)>;

// The runners writing to out and err; every command on ports runs inside guard, and cancel is
// the flag its workers watch (line, which serves until stopped, too). records touches no port
// and runs without it.
CommandRunners CommandRunnersFor(std::ostream& out, std::ostream& err, std::atomic<bool>& cancel,
                                 const StopGuard& guard);

}  // namespace cli
