// A station's barcode scanners at work: each port's slot for its unit's serial, the readers'
// threads (one per scanner device, started here and joined when this ends), and the rules
// each port's cycle is given.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/station/ScannerOptions.h"
#include "common/Clock.h"
#include "station/PortCycle.h"
#include "station/ScanPairing.h"
#include "station/ScannerLine.h"

namespace cli {

class StationScanners {
public:
    // False with *error when the serial pattern is not a regular expression.
    bool Prepare(const ScannerOptions& options, size_t ports, std::string* error);
    // Starts a reader per scanner; a reader that cannot be started is told on its ports.
    void Start(const station::PortOpener& open, common::Clock& clock);
    // The rules of port index's cycle; history may be null.
    station::SerialRules RulesFor(size_t index, station::LoadHistory* history) const;
    // Stops and joins the readers.
    ~StationScanners();

private:
    ScannerOptions options_;
    std::unique_ptr<station::CodeCheck> check_;
    std::vector<std::unique_ptr<station::ScanSlot>> slots_;  // null for a port without a scanner
    std::unique_ptr<station::StationScanner> stationScanner_;
    std::vector<std::unique_ptr<station::ScannerContext>> contexts_;
    std::vector<std::thread> readers_;
    std::atomic<bool> stop_{false};
};

}  // namespace cli
