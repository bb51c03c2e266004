// The station's barcode scanners on the command line and in its configuration: a scanner per
// fixture (--scanner PORT=DEVICE, [[port]] scanner), or one for the station (--scanner DEVICE,
// scanner at the top) with each fixture's label; whether a unit waits for its serial, what a
// serial may be, what a unit loaded before gets, and the scanners' line.
#pragma once

#include <string>
#include <vector>

#include "cli/Options.h"

namespace CLI {
class App;
}

namespace cli {

struct StationConfig;

void AddScannerOptions(CLI::App* station, ScannerOptions* options);
// The configuration's keys where the command line gave none (ports: the configuration's
// ports were taken, so their scanners and labels go with them).
void ApplyScannerConfig(const CLI::App& station, const StationConfig& config, bool portsFromConfig,
                        ScannerOptions* options);
// Resolves --scanner against the ports (each PORT a port's name or device) and checks it all.
void CheckScannerOptions(const std::vector<std::string>& devices, const std::vector<std::string>& names,
                         ScannerOptions* options);

}  // namespace cli
