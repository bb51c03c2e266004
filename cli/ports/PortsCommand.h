// varnex ports: the serial ports with the names that stay with them across boots, each one's
// CTS on --probe, the wizard's port remembered, or a station's configuration for them all.
#pragma once

#include <ostream>

#include "cli/Options.h"

namespace cli {

int RunPortsCommand(const PortsOptions& options, std::ostream& out, std::ostream& err);

}  // namespace cli
