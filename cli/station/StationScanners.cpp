// A station's scanners at work (see StationScanners.h).
#include "cli/station/StationScanners.h"

#include <system_error>

#include "cli/station/KeyboardScanner.h"

namespace cli {

bool StationScanners::Prepare(const ScannerOptions& options, size_t ports, std::string* error) {
    options_ = options;
    if (!station::CodeCheck::Make(options.serialPattern, &check_, error)) {
        *error = "serial_pattern: " + *error;
        return false;
    }
    std::vector<station::StationScanner::Fixture> fixtures;
    for (size_t i = 0; i < ports; ++i) {
        const bool scanned =
            !options.stationScanner.empty() || (i < options.portScanners.size() && !options.portScanners[i].empty());
        slots_.push_back(scanned ? std::make_unique<station::ScanSlot>(*check_) : nullptr);
        if (!options.stationScanner.empty() && i < options.labels.size()) {
            fixtures.push_back({options.labels[i], slots_.back().get()});
        }
    }
    if (!options.stationScanner.empty()) {
        stationScanner_ = std::make_unique<station::StationScanner>(fixtures, *check_);
    }
    return true;
}

void StationScanners::Start(const station::PortOpener& open, common::Clock& clock) {
    auto context = [&](const std::string& device, station::ScanTarget* target) {
        auto made = std::make_unique<station::ScannerContext>();
        made->device = device;
        made->framing = options_.framing;
        made->open = open;
        made->clock = &clock;
        made->target = target;
        made->stop = &stop_;
        contexts_.push_back(std::move(made));
    };
    if (stationScanner_) context(options_.stationScanner, stationScanner_.get());
    for (size_t i = 0; i < slots_.size() && i < options_.portScanners.size(); ++i) {
        if (!options_.portScanners[i].empty()) context(options_.portScanners[i], slots_[i].get());
    }
    for (const auto& made : contexts_) {
        try {
            station::ScannerContext* c = made.get();
            if (IsKeyboardScannerName(c->device)) {
                readers_.emplace_back([c] { RunKeyboardScanner(*c); });
            } else {
                readers_.emplace_back([c] { station::RunScanner(*c); });
            }
        } catch (const std::system_error& failure) {
            made->target->Tell("scanner " + made->device + " not read: " + failure.what());
        }
    }
}

station::SerialRules StationScanners::RulesFor(size_t index, station::LoadHistory* history) const {
    station::SerialRules rules;
    if (index >= slots_.size() || !slots_[index]) return rules;
    rules.slot = slots_[index].get();
    rules.required = options_.requireSerial;
    rules.reload = options_.reload;
    rules.history = history;
    return rules;
}

StationScanners::~StationScanners() {
    stop_.store(true);
    for (std::thread& reader : readers_) reader.join();
}

}  // namespace cli
