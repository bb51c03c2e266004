// The state of every unit as its events tell it (phase, bytes, timing, last text), and the
// number formats the live lines and the summary share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "board/Formats.h"
#include "cli/output/UnitEvents.h"

namespace cli {

enum class UnitPhase { Pending, Waiting, Running, Done, Failed };

struct UnitState {
    std::string port;
    UnitPhase phase = UnitPhase::Pending;
    uint64_t bytes = 0;
    uint64_t total = 0;
    uint64_t startMs = 0;  // when Start came
    uint64_t endMs = 0;    // when Done or Failed came
    uint32_t baud = 0;     // the line's speed of an image's stream; 0: not known
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

// The bytes the unit can have taken by nowMs: those written, held to the line's pace (the
// port's queue takes the first bytes at once).
uint64_t TakenBytes(const UnitState& unit, uint64_t nowMs);
// Bytes per second the unit took over the running time, 0 before any time has passed.
double BytesPerSecond(const UnitState& unit, uint64_t nowMs);
using board::FormatDuration;
using board::FormatPercent;
using board::FormatRate;

}  // namespace cli
