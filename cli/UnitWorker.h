// One unit's whole job on its own thread: open its port, wait for its CTS, switch speed and
// stream the image (or run the erase handshake), reporting each step to the sink. A worker
// shares nothing with the others but the sink and the Ctrl-C flag.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "cli/Images.h"
#include "cli/RecordKeeping.h"
#include "cli/UnitEvents.h"
#include "common/Clock.h"
#include "serial/SerialPort.h"

namespace cli {

using PortOpener = std::function<std::unique_ptr<serial::SerialPort>(const std::string&, serial::PortStatus*)>;

struct UnitContext {
    size_t unit = 0;
    std::string port;
    PortOpener open;
    common::Clock* clock = nullptr;
    UnitEventSink* sink = nullptr;
    const std::atomic<bool>* cancel = nullptr;  // raised by Ctrl-C; may be null
    RecordKeeping* records = nullptr;           // download and erase with --records; may be null
};

struct DownloadPlan {
    ImageBytes image;
    uint32_t baud = 0;
    uint32_t waitMs = 0;
    bool waitForCts = true;  // false: start at once (--no-cts-wait)
};

// Each ends with exactly one Done or Failed event; true on Done.
bool RunDownloadUnit(const UnitContext& context, const DownloadPlan& plan);
bool RunEraseUnit(const UnitContext& context);

}  // namespace cli
