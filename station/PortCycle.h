// One port of a loading station: unit after unit, each through the same four steps, on the
// port's own thread and independent of every other port. Waiting for a unit (its CTS rises;
// where the line requires it, its label is scanned too), loading it with the download engine, waiting for its
// confirmation (CTS falls once the last byte has left), waiting for it to go (CTS down for a second), and again. A
// vanished port is reopened every 2 s. Time comes from the clock it is given, so tests run it on a fake one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/Clock.h"
#include "serial/SerialPort.h"
#include "station/ScanPairing.h"
#include "station/StationGate.h"

namespace station {

// How often the unit's CTS is read while nothing else happens.
inline constexpr uint32_t kCtsPollMs = 50;
// A unit that took the whole image drops CTS within this time after the last byte left.
inline constexpr uint32_t kConfirmLimitMs = 30000;
// CTS down this long means the unit was switched off, unplugged or restarted.
inline constexpr uint32_t kGoneAfterMs = 1000;
// A lost port is opened again this often until it is back.
inline constexpr uint32_t kReopenEveryMs = 2000;

enum class Step {
    WaitingForUnit,          // until CTS rises
    Loading,                 // the image is going out
    WaitingForConfirmation,  // the last byte left; until CTS falls
    WaitingForUnitToGo,      // until CTS has been down for kGoneAfterMs
    PortLost,                // the port cannot be used; it is reopened every kReopenEveryMs
};
const char* StepName(Step step);  // "waiting_for_unit", ...

// How one unit's cycle ended, as the records keep it.
enum class LoadResult { Confirmed, Failed, NoConfirmation, Stopped };
const char* LoadResultName(LoadResult result);  // "confirmed", "failed", "no_confirmation", "stopped"

// The image every unit of the station gets.
struct LoadPlan {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    uint32_t baud = 0;
};

// One unit's load as it starts (for its record) and as it ended.
struct LoadStart {
    std::string port;
    uint32_t unit = 0;  // 1 for the first unit on this port
    uint64_t total = 0;
    std::string serial = {};  // the unit's scanned serial; "" when none was scanned
};
struct LoadEnd {
    LoadResult result = LoadResult::Failed;
    uint64_t bytesSent = 0;
    uint64_t total = 0;
    uint64_t durationMs = 0;    // from the load's start to the cycle's end
    std::string reason;         // the operator's words; empty when confirmed
    std::string serial = {};    // the unit's scanned serial; "" when none
    bool loadedBefore = false;  // the records hold a confirmed load of that serial already
};

// Where each unit's record goes; null for none. Called from the port's thread, never while
// bytes are going out. False with *error set when the write failed.
class RecordKeeper {
public:
    virtual ~RecordKeeper() = default;
    virtual bool Begin(const LoadStart& start, uint64_t* id, std::string* error) = 0;
    virtual bool Complete(uint64_t id, const LoadEnd& end, std::string* error) = 0;
};

// What the port tells its front-end, from the port's thread.
class PortListener {
public:
    virtual ~PortListener() = default;
    // The cycle moved to a step; unit is the unit it concerns (0 before the first); text is
    // the step in the operator's words (empty for Loading, which OnLoadStart tells).
    virtual void OnStep(Step step, uint32_t unit, const std::string& text) = 0;
    virtual void OnLoadStart(uint32_t unit, uint64_t total, uint32_t baud) = 0;
    virtual void OnProgress(uint32_t unit, uint64_t bytesSent, uint64_t total) = 0;
    // The unit's cycle is over and recorded (or its record failed).
    virtual void OnLoadEnd(uint32_t unit, const LoadEnd& end) = 0;
};

// What happens to a unit whose serial has a confirmed load already.
enum class Reload { Allow, Warn, Refuse };

// An earlier confirmed load of a serial, in the operator's words.
struct PreviousLoad {
    std::string when;     // "2026-12-08 06:12 UTC"
    std::string port;     // "fixture 3"
    std::string station;  // "bench-2"
};

// Where a serial's earlier loads are looked up (the records file, the line's server). Called
// from the port's thread before the unit loads. False with *error when it cannot tell.
class LoadHistory {
public:
    virtual ~LoadHistory() = default;
    virtual bool FindConfirmed(const std::string& serial, PreviousLoad* previous, bool* found, std::string* error) = 0;
};

// The port's scanner: its slot (null: no scanner), whether a unit waits for its scan, and the
// check for a unit loaded before (history null: none).
struct SerialRules {
    ScanSlot* slot = nullptr;
    bool required = false;
    Reload reload = Reload::Warn;
    LoadHistory* history = nullptr;
};

using PortOpener = std::function<std::unique_ptr<serial::SerialPort>(const std::string&, serial::PortStatus*)>;

struct PortContext {
    std::string port;
    PortOpener open;
    common::Clock* clock = nullptr;
    PortListener* listener = nullptr;
    RecordKeeper* records = nullptr;  // may be null
    StationGate* gate = nullptr;
    LoadPlan plan;
    SerialRules serials;
};

// Runs the port's cycle until the gate is cancelled or stops arming (then a running load and
// its confirmation finish first). Returns when the port is closed.
void RunPortCycle(const PortContext& context);

}  // namespace station
