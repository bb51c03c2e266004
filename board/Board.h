// The station's board, kept once: what every port is doing (its step, the unit on it, the
// load's bytes, rate and time left, the last failure latched until the port's next unit)
// and the station's counters. The ports' threads feed it (through PortFeed); any other
// thread (the terminal's redraw, a web server) reads it as a copy, a StationState, and never
// holds a lock a port's thread waits on: each change is published as a new immutable copy.
//
//   board::Board board(ports, "shift.db", clock.NowMs());
//   board::PortFeed feed(board, 0, clock, &jsonEvents);   // a station::PortListener per port
//   ...
//   uint64_t seen = 0;
//   for (;;) {  // a reader on its own thread
//       seen = board.WaitForChange(seen, 15000);
//       board::StationState state = board.Snapshot(clock.NowMs());
//   }
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "board/PortNames.h"
#include "common/Clock.h"
#include "station/PortCycle.h"

namespace board {

// A port's progress is published at most this often (four a second); steps and ends at once.
inline constexpr uint64_t kProgressIntervalMs = 250;
// Units per hour is not told before the station has run this long: a rate over a few
// minutes says nothing about the shift. Until it has run an hour it is over its run, then
// over the last hour.
inline constexpr uint64_t kRateSettleMs = 5 * 60 * 1000;
inline constexpr uint64_t kRateWindowMs = 60 * 60 * 1000;
inline constexpr uint64_t kRateSliceMs = 60 * 1000;  // the last hour is counted in whole minutes
inline constexpr size_t kRateSlices = kRateWindowMs / kRateSliceMs;
// The minute under way keeps a slot of its own, so the hour before it stays whole.
inline constexpr size_t kRateRing = kRateSlices + 1;

// The step a port shows before its cycle has said anything.
inline constexpr const char* kOpeningStep = "opening";

struct PortState {
    std::string name;                       // the port as given on the command line
    NamePart distinct;                      // what in the name tells it from the station's other ports
    std::string step = kOpeningStep;        // station::StepName of its step, or "opening"
    std::string text;                       // the step in the operator's words; "" when none
    uint32_t unit = 0;                      // the unit's number on this port (1: the first); 0 before
    bool loading = false;                   // an image is going out
    uint64_t bytes = 0;                     // bytes the unit has taken, never ahead of the line's pace
    uint64_t total = 0;                     // the image's size while loading or after a load
    double rate = 0.0;                      // bytes per second the unit has taken; 0 while not known
    int64_t leftMs = -1;                    // time left of the load; -1 while not known
    bool failed = false;                    // the last unit failed: latched until the next unit starts
    std::string reason;                     // why, in the operator's words (whole, never cut)
    std::string result;                     // the last load's result as the records keep it; "" before
    bool lost = false;                      // the port is lost and is being opened again
    std::map<std::string, uint64_t> loads;  // loads ended on this port since the start, by result
};

// Where the records go on to, for the header: the line's server and the rows that wait for it.
struct RecordsServer {
    std::string host;      // "" when the records go to no server
    uint64_t waiting = 0;  // rows the server has not taken yet
    std::string reason;    // why it has not, in the operator's words; "" while it takes them
    uint64_t errors = 0;   // tries the server refused or never answered, since the start
    bool operator==(const RecordsServer& other) const {
        return host == other.host && waiting == other.waiting && reason == other.reason && errors == other.errors;
    }
};

struct StationState {
    uint64_t sequence = 0;         // grows with every published change; 0 before the first
    uint64_t atMs = 0;             // the clock's time the copy describes
    uint64_t elapsedMs = 0;        // since the station started
    std::string records;           // the records file; "" for none
    RecordsServer server;          // the records' forwarding, if any
    uint64_t loaded = 0;           // units loaded and confirmed
    uint64_t failed = 0;           // loads that ended any other way
    double yield = -1.0;           // loaded over all loads that ended; -1 before the first end
    double unitsPerHour = -1.0;    // see kRateSettleMs; -1 while not told
    std::string notice;            // the last message written during the station, whole; "" for none
    bool ended = false;            // the station has stopped; nothing changes any more
    std::vector<PortState> ports;  // in the order given

    // Units loaded per minute of the last hour, by minute since the start (a ring).
    struct Slice {
        uint64_t minute = 0;
        uint32_t loaded = 0;
    };
    std::array<Slice, kRateRing> recent{};
    // The first-pass yield: units with a serial loaded for the first time, those confirmed at
    // that load, and the one over the other (-1 before the first such unit).
    uint64_t units = 0;
    uint64_t firstPass = 0;
    double firstPassYield = -1.0;
};

// Units per hour at elapsedMs since the start: over the run until it has lasted an hour, then
// over the last hour's whole minutes; -1 in the first minutes.
double UnitsPerHour(const StationState& state, uint64_t elapsedMs);

// Bytes a line at baud carries in elapsedMs: 11 bits a byte (start, eight data, odd parity,
// stop). A port's queue takes the first bytes at once; the unit takes them at this pace.
uint64_t LineBytes(uint32_t baud, uint64_t elapsedMs);
// What the unit can have taken of bytesWritten after elapsedMs at baud (baud 0: not known,
// the written count stands).
uint64_t TakenBytes(uint64_t bytesWritten, uint32_t baud, uint64_t elapsedMs);

class Board {
public:
    Board(const std::vector<std::string>& ports, std::string records, uint64_t startMs);
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // Fed from the ports' threads (port: the index as given; others are ignored).
    void Step(size_t port, station::Step step, uint32_t unit, const std::string& text, uint64_t nowMs);
    void LoadStart(size_t port, uint32_t unit, uint64_t total, uint32_t baud, uint64_t nowMs);
    void Progress(size_t port, uint64_t bytesWritten, uint64_t total, uint64_t nowMs);
    void LoadEnd(size_t port, uint32_t unit, const station::LoadEnd& end, uint64_t nowMs);
    // A port that could not be started at all (no thread for it).
    void PortFailed(size_t port, const std::string& reason, uint64_t nowMs);
    // The forwarding's state as it is now; published only when it changed.
    void Server(const RecordsServer& server, uint64_t nowMs);
    // A message for the operator written during the station (a records write that failed,
    // say): the board shows the latest, where it does not break into the ports' lines.
    void Notice(const std::string& text, uint64_t nowMs);
    // The station stopped: wakes every reader one last time.
    void End(uint64_t nowMs);

    // A copy of the latest published state, its times brought to nowMs (any thread).
    StationState Snapshot(uint64_t nowMs) const;
    uint64_t Sequence() const;
    // Waits until the sequence has passed seen, the station has ended or timeoutMs passed;
    // returns the sequence then.
    uint64_t WaitForChange(uint64_t seen, uint32_t timeoutMs) const;

private:
    struct Timing {  // what the rate is worked out from, per port
        uint64_t startMs = 0;
        uint64_t progressMs = 0;
        uint64_t written = 0;
        uint32_t baud = 0;
        uint64_t publishedMs = 0;
        bool published = false;
        int64_t leftAtProgressMs = -1;  // time left as the last progress left it; -1: not known
    };
    void TakeProgress(size_t port);
    void Publish(uint64_t nowMs);  // with writeMutex_ held

    mutable std::mutex writeMutex_;  // the ports' threads, one change at a time
    StationState state_;
    std::vector<Timing> timing_;
    uint64_t startMs_;
    std::set<std::string> serials_;  // the units seen, for the first-pass yield

    std::shared_ptr<const StationState> published_;  // read and swapped with std::atomic_load/store
    mutable std::mutex waitMutex_;
    mutable std::condition_variable changed_;
};

// One port's station::PortListener: tells the board, then the next listener (the JSON lines
// or the plain lines), if any.
class PortFeed final : public station::PortListener {
public:
    PortFeed(Board& board, size_t port, common::Clock& clock, station::PortListener* next)
        : board_(board), port_(port), clock_(clock), next_(next) {}
    void OnStep(station::Step step, uint32_t unit, const std::string& text) override;
    void OnLoadStart(uint32_t unit, uint64_t total, uint32_t baud) override;
    void OnProgress(uint32_t unit, uint64_t bytesSent, uint64_t total) override;
    void OnLoadEnd(uint32_t unit, const station::LoadEnd& end) override;

private:
    Board& board_;
    size_t port_;
    common::Clock& clock_;
    station::PortListener* next_;
};

}  // namespace board
