// A serial-mode barcode scanner: a line of text per code, ending in CR, LF or both, read on
// the scanner's own thread and handed to its target (a fixture's slot, or the station's
// scanner). A scanner unplugged is told as "scanner lost" and opened again as a lost port
// is; whatever it had half sent is dropped. Time comes from the clock it is given.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "serial/SerialPort.h"
#include "station/PortCycle.h"
#include "station/ScanPairing.h"

namespace station {

// How long one read waits before the stop flag is looked at again.
inline constexpr uint32_t kScannerReadMs = 100;

// Splits a scanner's bytes into codes: CR, LF and CR LF each end one, blank lines are none.
// A line is kept to kMaxCodeLength + 1 characters, so an endless one costs no memory and is
// still refused as overlong.
class CodeLines {
public:
    // The codes the bytes completed, oldest first.
    std::vector<std::string> Take(const uint8_t* data, size_t size);
    void Clear() { line_.clear(), started_ = false; }

private:
    std::string line_;
    bool started_ = false;  // a character has come since the last line's end
};

struct ScannerContext {
    std::string device;
    serial::LineFraming framing;
    PortOpener open;
    common::Clock* clock = nullptr;
    ScanTarget* target = nullptr;
    const std::atomic<bool>* stop = nullptr;
};

// Reads codes until *stop; the scanner is closed on return.
void RunScanner(const ScannerContext& context);

}  // namespace station
