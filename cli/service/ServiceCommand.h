// The service commands (nlec, settings, program, bitmap, monitor, request): one unit's
// operation over the packet link, told by that unit's own end.
#pragma once

#include <atomic>
#include <ostream>

#include "cli/Options.h"

namespace cli {

int RunServiceCommand(const ServiceOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel);

}  // namespace cli
