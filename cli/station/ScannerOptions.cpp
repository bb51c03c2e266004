// The scanners' options and keys (see ScannerOptions.h).
#include "cli/station/ScannerOptions.h"

#include <map>
#include <memory>
#include <set>

#include <CLI/CLI.hpp>

#include "cli/station/StationConfig.h"

namespace cli {

namespace {

const std::map<std::string, station::Reload> kReloads = {{"allow", station::Reload::Allow},
                                                         {"warn", station::Reload::Warn},
                                                         {"refuse", station::Reload::Refuse}};
const std::map<std::string, serial::Parity> kParities = {{"none", serial::Parity::None},
                                                         {"odd", serial::Parity::Odd},
                                                         {"even", serial::Parity::Even}};

}  // namespace

bool ScannerOptions::Any() const {
    if (!stationScanner.empty()) return true;
    for (const std::string& scanner : portScanners) {
        if (!scanner.empty()) return true;
    }
    return false;
}

void AddScannerOptions(CLI::App* station, ScannerOptions* options) {
    station
        ->add_option("--scanner", options->given,
                     "a barcode scanner for the units' serials: PORT=DEVICE for a fixture's own (PORT: its name or "
                     "device), or DEVICE alone for the station's one (a fixture's label, then the unit's)")
        ->type_name("[PORT=]DEVICE");
    station->add_flag("--require-serial", options->requireSerial, "a unit waits for its label's scan before it loads");
}

void ApplyScannerConfig(const CLI::App& station, const StationConfig& config, bool portsFromConfig,
                        ScannerOptions* options) {
    if (portsFromConfig && config.ports) {
        for (const ConfigPort& port : *config.ports) {
            options->portScanners.push_back(port.scanner);
            options->labels.push_back(port.label);
        }
    }
    if (config.scanner && station.count("--scanner") == 0) options->stationScanner = *config.scanner;
    if (config.requireSerial && station.count("--require-serial") == 0) options->requireSerial = *config.requireSerial;
    if (config.serialPattern) options->serialPattern = *config.serialPattern;
    if (config.reload) options->reload = kReloads.at(*config.reload);
    if (config.scannerBaud) options->framing.baud = *config.scannerBaud;
    if (config.scannerDataBits) options->framing.dataBits = static_cast<uint8_t>(*config.scannerDataBits);
    if (config.scannerParity) options->framing.parity = kParities.at(*config.scannerParity);
    if (config.scannerStopBits) options->framing.stopBits = static_cast<uint8_t>(*config.scannerStopBits);
}

void CheckScannerOptions(const std::vector<std::string>& devices, const std::vector<std::string>& names,
                         ScannerOptions* options) {
    options->portScanners.resize(devices.size());
    options->labels.resize(devices.size());
    // The command line's scanners replace the configuration's.
    if (!options->given.empty()) {
        options->portScanners.assign(devices.size(), "");
        options->stationScanner.clear();
    }
    for (const std::string& text : options->given) {
        const size_t equals = text.find('=');
        if (equals == std::string::npos) {
            if (!options->stationScanner.empty()) throw CLI::ValidationError("--scanner: one station scanner at most");
            options->stationScanner = text;
            continue;
        }
        const std::string port = text.substr(0, equals);
        const std::string device = text.substr(equals + 1);
        size_t index = 0;
        while (index < devices.size() && devices[index] != port && names[index] != port) ++index;
        if (index == devices.size()) throw CLI::ValidationError("--scanner " + text + ": no port " + port);
        if (device.empty()) throw CLI::ValidationError("--scanner " + text + ": no scanner device after =");
        options->portScanners[index] = device;
    }
    std::set<std::string> scanners(devices.begin(), devices.end());
    if (!options->stationScanner.empty()) scanners.insert(options->stationScanner);
    for (size_t i = 0; i < devices.size(); ++i) {
        if (options->portScanners[i].empty()) continue;
        if (!options->stationScanner.empty()) {
            throw CLI::ValidationError("scanner " + options->portScanners[i] +
                                       ": a station has either a scanner per fixture or one for the station");
        }
        if (!scanners.insert(options->portScanners[i]).second) {
            throw CLI::ValidationError("scanner " + options->portScanners[i] + " is given twice (or is a port)");
        }
    }
    std::set<std::string> labels;
    for (const std::string& label : options->labels) {
        if (!label.empty() && !labels.insert(label).second) {
            throw CLI::ValidationError("label \"" + label + "\" is given to two ports; each fixture has its own");
        }
    }
    if (!options->stationScanner.empty() && labels.size() != devices.size()) {
        throw CLI::ValidationError("a station scanner needs a label on every [[port]] (label = \"F07\")");
    }
    if (options->requireSerial && !options->Any()) {
        throw CLI::ValidationError("--require-serial needs a scanner (--scanner, or scanner in the --config file)");
    }
}

}  // namespace cli
