// What one unit's worker is handed: its index and port, how to open the port, the clock, the
// sink its events go to, the Ctrl-C flag and the records. The workers and their shared
// reporting both take it, so it sits below them.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "cli/output/UnitEvents.h"
#include "cli/records/RecordKeeping.h"
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

}  // namespace cli
