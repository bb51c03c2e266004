// What a unit's worker reports as it goes, and the two interfaces around it: the sink the
// workers report to (any thread) and the presenters that turn events into output (called
// one at a time, with "now" handed in, so tests drive them on a fake clock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cli {

enum class EventKind {
    Waiting,   // the port is open; waiting for the unit's CTS (text: what the technician does)
    Start,     // the stream or the erase request begins
    Progress,  // bytes of total have left
    Done,      // success (text: what to check)
    Failed,    // failure (text: the reason)
    Log,       // a line to keep: the unit's log line, an unknown packet, a transfer's own text
    Step,      // a station's port moved to a step of its cycle (step: its name, text: its words)
};

struct UnitEvent {
    EventKind kind = EventKind::Waiting;
    size_t unit = 0;  // index into the ports as given
    uint64_t bytes = 0;
    uint64_t total = 0;
    std::string text;
    // A station's events: the unit's number on its port (0: none), the cycle's step for Step
    // and the record's result for Done and Failed.
    uint32_t cycleUnit = 0;
    const char* step = nullptr;
    const char* result = nullptr;
    // Start of an image: the line's speed, which the unit takes the bytes at (0: not known).
    uint32_t baud = 0;
};

const char* EventKindName(EventKind kind);

class UnitEventSink {
public:
    virtual ~UnitEventSink() = default;
    // Called from the units' worker threads.
    virtual void Report(const UnitEvent& event) = 0;
};

class Presenter {
public:
    virtual ~Presenter() = default;
    virtual void OnEvent(const UnitEvent& event, uint64_t nowMs) = 0;
    // Called about every tick by the main thread, for redraws that time alone makes due.
    virtual void OnTick(uint64_t nowMs) { (void)nowMs; }
    // After the last event; draws the final state.
    virtual void Finish(uint64_t nowMs) { (void)nowMs; }
};

}  // namespace cli
