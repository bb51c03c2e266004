// The commands of varnex on their parsed options; each returns the process's exit code.
#pragma once

#include <atomic>
#include <ostream>

#include "cli/Options.h"

namespace cli {

int RunPortsCommand(const PortsOptions& options, std::ostream& out, std::ostream& err);
// download, erase and the service commands: one worker thread per port; cancel is raised by
// Ctrl-C and the other stop signals, and here when standard output has closed.
int RunDownloadCommand(const DownloadOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel);
int RunEraseCommand(const EraseOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel);
int RunServiceCommand(const ServiceOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel);
// station: one cycle per port until Ctrl-C, --count or --stop-on-failure; the records file
// is opened and checked before any port is touched.
int RunStationCommand(const StationOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel);
int RunRecordsCommand(const RecordsOptions& options, std::ostream& out, std::ostream& err);

}  // namespace cli
