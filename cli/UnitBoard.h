// The state of every unit as its events tell it (phase, bytes, timing, last text), and the
// number formats the live lines and the summary share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/UnitEvents.h"

namespace cli {

enum class UnitPhase { Pending, Waiting, Running, Done, Failed };

struct UnitState {
    std::string port;
    UnitPhase phase = UnitPhase::Pending;
    uint64_t bytes = 0;
    uint64_t total = 0;
    uint64_t startMs = 0;  // when Start came
    uint64_t endMs = 0;    // when Done or Failed came
    std::string text;      // the last event's text
};

class UnitBoard {
public:
    explicit UnitBoard(const std::vector<std::string>& ports);
    // Events for units it does not have are ignored.
    void Apply(const UnitEvent& event, uint64_t nowMs);
    const std::vector<UnitState>& Units() const { return units_; }
    const UnitState* Unit(size_t index) const { return index < units_.size() ? &units_[index] : nullptr; }
    bool AnyFailed() const;
    size_t WidestPort() const;

private:
    std::vector<UnitState> units_;
};

// Bytes per second over the running time, 0 before any time has passed.
double BytesPerSecond(const UnitState& unit, uint64_t nowMs);
std::string FormatRate(double bytesPerSecond);              // "10.4 kB/s"
std::string FormatDuration(uint64_t milliseconds);          // "0:07", "1:02:03"
std::string FormatPercent(uint64_t bytes, uint64_t total);  // "49.6 %"

}  // namespace cli
