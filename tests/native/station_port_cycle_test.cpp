// The loading station's port cycle on a fake clock and port, against a modelled line of
// units: each raises CTS, takes the image, drops CTS (or never does), and goes. Every step
// and its edges, the stops, the lost port, --count and --stop-on-failure, the records.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakePort.h"
#include "station/PortCycle.h"
#include "station/StationGate.h"

namespace {

using station::LoadResult;
using station::Step;

constexpr uint32_t kImageBytes = 40000;
constexpr uint32_t kWriteMs = 100;
constexpr uint64_t kNever = UINT64_MAX / 4;

// One unit of the line: when it arrives (after the previous one went), how long after the
// last byte it drops CTS (kNever: never), and a flicker of CTS after that drop.
struct LineUnit {
    uint64_t arriveAfterMs = 0;
    uint64_t confirmAfterMs = 300;
    uint64_t flickerUpAfterMs = kNever;  // after the drop, CTS comes up again ...
    uint64_t flickerForMs = 0;           // ... for this long
    uint64_t leavesAfterMs = kNever;     // switched off this long after it arrived, whatever happened
    uint64_t upForGoodAfterMs = kNever;  // after its last drop, CTS comes up this late and stays
};

// The line's units, where it stands, and the times the adapter is out and Ctrl-C comes.
struct LineState {
    std::vector<LineUnit> units;
    size_t current = 0;
    uint64_t arrivesAtMs = 0;                            // of the current unit
    uint64_t doneAtMs = kNever;                          // when its last byte arrived
    size_t bytesBefore = 0;                              // the port's byte count when it arrived
    uint64_t goneFromMs = kNever, goneUntilMs = kNever;  // the adapter is out
    uint64_t cancelAtMs = kNever;
    std::atomic<bool>* cancel = nullptr;
    uint64_t stopArmingAtMs = kNever;  // another port of the station ends its arming
    station::StationGate* gate = nullptr;
    std::function<void(uint64_t)> elsewhere;  // what else happens meanwhile (a scanner)
};

// What happens at a time whatever the port does: Ctrl-C, another port ending the arming.
void TimedEvents(LineState& line, uint64_t now) {
    if (line.cancel != nullptr && now >= line.cancelAtMs) line.cancel->store(true);
    if (line.gate != nullptr && now >= line.stopArmingAtMs) line.gate->StopArming("--count 2 reached");
    if (line.elsewhere) line.elsewhere(now);
}

// The far end of the port: the units in turn, modelled from the bytes the port took.
class LinePort final : public fake::PortLoan {
public:
    LinePort(fake::FakePort& port, fake::FakeClock& clock, LineState& line)
        : PortLoan(port), clock_(clock), line_(line) {}
    serial::PortStatus ReadCts(bool* on) override;
    serial::PortStatus Write(const uint8_t* data, size_t size, uint32_t timeoutMs, size_t* written) override;

private:
    fake::FakeClock& clock_;
    LineState& line_;
    bool dead_ = false;
};

// Off for good: the next unit arrives after its gap (at least the station's second).
void NextUnit(LineState& line, fake::FakePort& port, uint64_t offMs) {
    ++line.current;
    line.doneAtMs = kNever;
    line.bytesBefore = port.received.size();
    if (line.current < line.units.size()) {
        line.arrivesAtMs = offMs + station::kGoneAfterMs + line.units[line.current].arriveAfterMs;
    }
}

// The unit leaves once CTS has been down its second; the next arrives after its own gap.
bool CtsOf(LineState& line, fake::FakePort& port, uint64_t now) {
    TimedEvents(line, now);
    for (;;) {
        if (line.current >= line.units.size()) return false;
        const LineUnit& unit = line.units[line.current];
        if (now < line.arrivesAtMs) return false;
        const uint64_t offMs = line.arrivesAtMs + unit.leavesAfterMs;
        if (unit.leavesAfterMs != kNever && now >= offMs) {
            NextUnit(line, port, offMs);
            continue;
        }
        if (line.doneAtMs == kNever && port.received.size() - line.bytesBefore >= kImageBytes) line.doneAtMs = now;
        if (line.doneAtMs == kNever || unit.confirmAfterMs == kNever) return true;
        const uint64_t dropMs = line.doneAtMs + unit.confirmAfterMs;
        if (now < dropMs) return true;
        const uint64_t flickerMs = dropMs + unit.flickerUpAfterMs;
        if (now >= flickerMs && now < flickerMs + unit.flickerForMs) return true;
        const uint64_t lastDownMs = unit.flickerUpAfterMs == kNever ? dropMs : flickerMs + unit.flickerForMs;
        if (now < lastDownMs) return false;
        if (unit.upForGoodAfterMs != kNever) return now >= lastDownMs + unit.upForGoodAfterMs;
        NextUnit(line, port, lastDownMs);
    }
}

serial::PortStatus LinePort::ReadCts(bool* on) {
    const uint64_t now = clock_.NowMs();
    *on = false;
    // The handle of a device that vanished stays dead: the adapter plugged in again is a new one.
    if (now >= line_.goneFromMs && now < line_.goneUntilMs) dead_ = true;
    if (dead_) return {serial::PortError::Gone, "fake unplugged"};
    serial::PortStatus status = port_.ReadCts(on);
    *on = status.Ok() && CtsOf(line_, port_, now);
    return status;
}

serial::PortStatus LinePort::Write(const uint8_t* data, size_t size, uint32_t timeoutMs, size_t* written) {
    serial::PortStatus status = port_.Write(data, size, timeoutMs, written);
    TimedEvents(line_, clock_.NowMs());
    return status;
}

struct Events final : station::PortListener {
    std::vector<std::pair<Step, std::string>> steps;
    std::vector<station::LoadEnd> ends;
    std::vector<uint64_t> loadStartsMs;
    fake::FakeClock* clock = nullptr;
    void OnStep(Step step, uint32_t, const std::string& text) override { steps.emplace_back(step, text); }
    void OnLoadStart(uint32_t, uint64_t, uint32_t) override { loadStartsMs.push_back(clock->NowMs()); }
    void OnProgress(uint32_t, uint64_t, uint64_t) override {}
    void OnLoadEnd(uint32_t, const station::LoadEnd& end) override { ends.push_back(end); }
    bool Saw(Step step) const { return Count(step) > 0; }
    size_t Count(Step step) const {
        size_t n = 0;
        for (const auto& s : steps) n += s.first == step ? 1 : 0;
        return n;
    }
};

struct Records final : station::RecordKeeper {
    std::vector<station::LoadStart> begun;
    std::vector<station::LoadEnd> completed;
    size_t failBeginAt = SIZE_MAX;  // the nth Begin (from 0) fails
    bool failComplete = false;
    bool Begin(const station::LoadStart& start, uint64_t* id, std::string* error) override {
        if (begun.size() == failBeginAt) {
            *error = "database or disk is full";
            return false;
        }
        begun.push_back(start);
        *id = begun.size();
        return true;
    }
    bool Complete(uint64_t, const station::LoadEnd& end, std::string* error) override {
        if (failComplete) {
            *error = "database or disk is full";
            return false;
        }
        completed.push_back(end);
        return true;
    }
};

struct Rig {
    fake::FakeClock clock;
    fake::FakePort port{clock, "/dev/ttyUSB0"};
    LineState line;
    Events events;
    Records records;
    std::atomic<bool> cancel{false};
    station::GateRules rules;
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageBytes, 0x5A);
    uint64_t t0 = clock.NowMs();
    size_t opens = 0;
    station::SerialRules serials;

    explicit Rig(std::vector<LineUnit> units) {
        line.units = std::move(units);
        line.arrivesAtMs = t0 + (line.units.empty() ? 0 : line.units[0].arriveAfterMs);
        line.cancel = &cancel;
        port.afterScript.takesMs = kWriteMs;
        events.clock = &clock;
    }
    void At(uint64_t& field, uint64_t relativeMs) { field = t0 + relativeMs; }
    std::unique_ptr<station::StationGate> gate;
    station::StationGate& Run() {
        gate = std::make_unique<station::StationGate>(rules, &cancel);
        gate->WordStops([] { return std::string("stopped by the test"); });
        line.gate = gate.get();
        station::PortContext context;
        context.port = port.Name();
        context.open = [this](const std::string&, serial::PortStatus* status) -> std::unique_ptr<serial::SerialPort> {
            const uint64_t now = clock.NowMs();
            if (now >= line.goneFromMs && now < line.goneUntilMs) {
                *status = {serial::PortError::NoSuchPort, "fake unplugged"};
                return nullptr;
            }
            ++opens;
            port.closed = false;
            return std::make_unique<LinePort>(port, clock, line);
        };
        context.clock = &clock;
        context.listener = &events;
        context.records = &records;
        context.gate = gate.get();
        context.plan = {image.data(), kImageBytes, 115200};
        context.serials = serials;
        station::RunPortCycle(context);
        return *gate;
    }
};

}  // namespace

TEST(StationPortCycle, AUnitAlreadyUpIsLoadedConfirmedRecordedAndTheStepsRunInOrder) {
    Rig r({LineUnit{}});
    r.rules.count = 1;
    station::StationGate& gate = r.Run();
    ASSERT_EQ(r.events.ends.size(), 1u);
    EXPECT_EQ(r.events.ends[0].result, LoadResult::Confirmed);
    EXPECT_EQ(r.events.ends[0].bytesSent, kImageBytes);
    EXPECT_EQ(r.port.received, r.image);
    std::vector<Step> order;
    for (const auto& s : r.events.steps) order.push_back(s.first);
    EXPECT_EQ(order, (std::vector<Step>{Step::WaitingForUnit, Step::Loading, Step::WaitingForConfirmation}));
    ASSERT_EQ(r.records.begun.size(), 1u);
    EXPECT_EQ(r.records.begun[0].unit, 1u);
    ASSERT_EQ(r.records.completed.size(), 1u);
    EXPECT_EQ(r.records.completed[0].result, LoadResult::Confirmed);
    EXPECT_EQ(gate.Loaded(), 1u);
    EXPECT_EQ(gate.StopReason(), "--count 1 reached");
    EXPECT_TRUE(r.port.closed);
}

TEST(StationPortCycle, UnitAfterUnitEachLoadedOnceAndAFlickerShorterThanASecondIsTheSameUnit) {
    LineUnit flickering;
    flickering.flickerUpAfterMs = 400;  // down 0.4 s, up 0.5 s, then down for good
    flickering.flickerForMs = 500;
    LineUnit next;
    next.arriveAfterMs = 2000;
    Rig r({flickering, next, next});
    r.rules.count = 3;
    r.Run();
    ASSERT_EQ(r.events.ends.size(), 3u);
    for (const auto& end : r.events.ends) EXPECT_EQ(end.result, LoadResult::Confirmed);
    EXPECT_EQ(r.port.received.size(), 3u * kImageBytes);  // the flicker loaded nothing
    // The second load began only after the unit had been gone a whole second.
    ASSERT_EQ(r.events.loadStartsMs.size(), 3u);
    EXPECT_GE(r.events.loadStartsMs[1] - r.events.loadStartsMs[0], 400u + 500u + station::kGoneAfterMs + 2000u);
    EXPECT_EQ(r.records.begun.back().unit, 3u);
}

// The second of "gone" starts again at every fall: down 0.4 s, up 0.5 s, down 0.2 s and then
// up for good is a unit still there (counted from the first fall, a second passes in the second).
TEST(StationPortCycle, ACtsFlickerRestartsTheGoneSecondSoAUnitStillThereIsNotLoadedAgain) {
    LineUnit stays;
    stays.flickerUpAfterMs = 400;
    stays.flickerForMs = 500;
    stays.upForGoodAfterMs = 200;
    Rig r({stays});
    r.line.cancelAtMs = r.t0 + 60000;
    r.Run();
    EXPECT_EQ(r.events.ends.size(), 1u);
    EXPECT_EQ(r.port.received.size(), kImageBytes) << "the unit that never left was loaded again";
    ASSERT_FALSE(r.events.steps.empty());
    EXPECT_EQ(r.events.steps.back().first, Step::WaitingForUnitToGo);
}

TEST(StationPortCycle, NoDropWithinThirtySecondsIsNoConfirmationAndStopOnFailureEndsTheStation) {
    LineUnit silent;
    silent.confirmAfterMs = kNever;
    Rig r({silent, LineUnit{}});
    r.rules.stopOnFailure = true;
    station::StationGate& gate = r.Run();
    ASSERT_EQ(r.events.ends.size(), 1u);
    EXPECT_EQ(r.events.ends[0].result, LoadResult::NoConfirmation);
    EXPECT_NE(r.events.ends[0].reason.find("no confirmation from the unit within 30 s"), std::string::npos);
    EXPECT_GE(r.events.ends[0].durationMs, station::kConfirmLimitMs);
    EXPECT_EQ(gate.Failed(), 1u);
    EXPECT_FALSE(gate.Arming());
    EXPECT_NE(gate.StopReason().find("--stop-on-failure"), std::string::npos);
}

// A network server may tell the fall of CTS a second late: the port says so, and the 30 s
// confirmation limit grows by that on its port only.
TEST(StationPortCycle, AConfirmationAfterThirtySecondsCountsOnlyOnAPortThatTellsCtsLate) {
    constexpr uint32_t kNetworkLatencyMs = 1000;
    for (const bool network : {true, false}) {
        SCOPED_TRACE(network ? "network port" : "local port");
        LineUnit late;
        // The first CTS read after the load comes after the settle; the fall is 30.5 s after the last byte.
        late.confirmAfterMs = station::kConfirmLimitMs + 400;
        Rig r({late});
        r.rules.count = 1;
        r.port.kind = network ? serial::PortKind::Network : serial::PortKind::Local;
        r.port.ctsNoticeLatencyMs = network ? kNetworkLatencyMs : 0;
        r.line.cancelAtMs = r.t0 + 120000;
        r.Run();
        ASSERT_EQ(r.events.ends.size(), 1u);
        EXPECT_EQ(r.events.ends[0].result, network ? LoadResult::Confirmed : LoadResult::NoConfirmation);
    }
}

// An adapter out for a while is one "port lost" step, not one per try every 2 s.
TEST(StationPortCycle, APortThatWillNotOpenIsShownLostOnceWhileItIsRetried) {
    constexpr uint64_t kOutMs = 20000;
    Rig r({LineUnit{}});
    r.rules.count = 1;
    r.line.goneFromMs = r.t0;
    r.line.goneUntilMs = r.t0 + kOutMs;
    r.Run();
    EXPECT_EQ(r.events.Count(Step::PortLost), 1u);
    EXPECT_NE(r.events.steps[0].second.find("cannot open the port"), std::string::npos);
    ASSERT_EQ(r.events.ends.size(), 1u);
    EXPECT_EQ(r.events.ends[0].result, LoadResult::Confirmed);
    EXPECT_GE(r.events.loadStartsMs[0] - r.t0, kOutMs);
}

TEST(StationPortCycle, APortLostMidLoadIsRecordedFailedReopenedEveryTwoSecondsAndTheNextUnitLoads) {
    LineUnit cut;
    cut.leavesAfterMs = 3000;  // switched off while the adapter is out
    LineUnit next;
    next.arriveAfterMs = 5000;  // a second after the port is back
    Rig r({cut, next});
    r.rules.count = 1;
    r.port.writeScript = {fake::WriteStep{16384, serial::PortError::None, kWriteMs},
                          fake::WriteStep{0, serial::PortError::Gone, 0}};
    r.line.goneFromMs = r.t0 + kWriteMs;  // from the second write on, for 5 s
    r.line.goneUntilMs = r.line.goneFromMs + 5000;
    station::StationGate& gate = r.Run();
    ASSERT_EQ(r.events.ends.size(), 2u);
    EXPECT_EQ(r.events.ends[0].result, LoadResult::Failed);
    EXPECT_EQ(r.events.ends[0].bytesSent, 16384u);
    EXPECT_NE(r.events.ends[0].reason.find("after 16384 of 40000 bytes"), std::string::npos);
    EXPECT_TRUE(r.events.Saw(Step::PortLost));
    EXPECT_EQ(r.events.ends[1].result, LoadResult::Confirmed);
    EXPECT_EQ(r.port.received.size(), 16384u + kImageBytes);
    EXPECT_EQ(gate.Loaded(), 1u);
    EXPECT_EQ(gate.Failed(), 1u);
    EXPECT_EQ(r.opens, 2u);  // the tries while it was out opened nothing
    EXPECT_EQ(r.records.completed.size(), 2u);
}

// A CTS read that fails is a lost port, never a fall of CTS nor a unit not there yet: not the
// unit's confirmation, nor the unit gone (which would load a unit still there again), nor a
// wait for a unit on a dead port all shift. The port is shown lost and reopened, and the
// cycle goes on where it was.
TEST(StationPortCycle, ACtsReadThatFailsIsALostPortInEveryStep) {
    struct Case {
        const char* during;
        uint64_t arriveAfterMs;
        uint64_t confirmAfterMs;
        uint64_t goneFromMs;  // the adapter is out from here, for 5 s
        std::vector<LoadResult> results;
        Step resumes;
    };
    const Case cases[] = {
        {"the wait for a unit", 10000, 300, 1000, {LoadResult::Confirmed}, Step::WaitingForUnit},
        {"the confirmation wait",
         0,
         10000,
         2300,
         {LoadResult::Failed, LoadResult::Confirmed},
         Step::WaitingForUnitToGo},
        // The unit never confirmed and stays on, CTS up, until it is switched off at 45 s.
        {"the wait for the unit to go",
         0,
         kNever,
         32000,
         {LoadResult::NoConfirmation, LoadResult::Confirmed},
         Step::WaitingForUnitToGo},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.during);
        LineUnit first;
        first.arriveAfterMs = c.arriveAfterMs;
        first.confirmAfterMs = c.confirmAfterMs;
        first.leavesAfterMs = 45000;
        LineUnit next;
        next.arriveAfterMs = 500;
        Rig r({first, next});
        r.rules.count = 1;
        r.line.goneFromMs = r.t0 + c.goneFromMs;
        r.line.goneUntilMs = r.line.goneFromMs + 5000;
        r.Run();
        std::vector<LoadResult> results;
        for (const auto& end : r.events.ends) results.push_back(end.result);
        EXPECT_EQ(results, c.results);
        EXPECT_EQ(r.opens, 2u);
        // Shown lost, then back to the step it was in.
        auto lost = std::find_if(r.events.steps.begin(), r.events.steps.end(),
                                 [](const auto& step) { return step.first == Step::PortLost; });
        auto after =
            std::find_if(lost, r.events.steps.end(), [](const auto& step) { return step.first != Step::PortLost; });
        ASSERT_NE(after, r.events.steps.end());
        EXPECT_EQ(after->first, c.resumes);
    }
}

// A stop in each step: the port ends; a load under way is recorded as stopped with its bytes,
// in the words of whoever asked, and counted as stopped, not failed.
TEST(StationPortCycle, StopInEachStepEndsThePortAndRecordsARunningLoadAsStopped) {
    struct Case {
        uint64_t cancelAtMs;
        size_t records;
        LoadResult result;
    };
    LineUnit late;
    late.arriveAfterMs = 5000;
    LineUnit slowToConfirm;
    slowToConfirm.confirmAfterMs = 10000;
    const Case cases[] = {
        {1000, 0, LoadResult::Stopped},                         // waiting for a unit
        {5000 + kWriteMs + 10, 1, LoadResult::Stopped},         // loading
        {5000 + 3 * kWriteMs + 2000, 1, LoadResult::Stopped},   // waiting for its confirmation
        {5000 + 3 * kWriteMs + 900, 1, LoadResult::Confirmed},  // waiting for it to go
    };
    for (const Case& c : cases) {
        LineUnit unit = late;
        if (c.cancelAtMs > 5000 + 3 * kWriteMs + 1000 && c.cancelAtMs < 5000 + 3 * kWriteMs + 10000) {
            unit.confirmAfterMs = slowToConfirm.confirmAfterMs;
        }
        Rig r({unit, late});
        r.line.cancelAtMs = r.t0 + c.cancelAtMs;
        station::StationGate& gate = r.Run();
        SCOPED_TRACE(c.cancelAtMs);
        ASSERT_EQ(r.records.completed.size(), c.records);
        EXPECT_EQ(gate.Failed(), 0u);
        if (c.records == 0) continue;
        EXPECT_EQ(r.records.completed[0].result, c.result);
        if (c.result == LoadResult::Stopped) {
            EXPECT_EQ(r.records.completed[0].reason.rfind("stopped by the test ", 0), 0u)
                << r.records.completed[0].reason;
            EXPECT_EQ(gate.Stopped(), 1u);
        }
        EXPECT_LE(r.clock.NowMs() - r.line.cancelAtMs, 200u);  // promptly
    }
}

// The end of arming (another port reached --count) lets a load under way and its confirmation
// finish: only Ctrl-C stops them. The port then ends without waiting for the unit to go.
TEST(StationPortCycle, ArmingEndedElsewhereLetsTheLoadAndItsConfirmationFinish) {
    LineUnit slow;
    slow.confirmAfterMs = 10000;
    for (const uint64_t stopMs : {uint64_t{kWriteMs + 10}, uint64_t{3 * kWriteMs + 2000}}) {
        SCOPED_TRACE(stopMs);
        Rig r({slow, LineUnit{}});
        r.line.stopArmingAtMs = r.t0 + stopMs;
        station::StationGate& gate = r.Run();
        ASSERT_EQ(r.records.completed.size(), 1u);
        EXPECT_EQ(r.records.completed[0].result, LoadResult::Confirmed) << r.records.completed[0].reason;
        EXPECT_EQ(gate.Loaded(), 1u);
        EXPECT_FALSE(r.events.Saw(Step::WaitingForUnitToGo));
    }
}

// The records' failure is the station's reason to stop, also where --stop-on-failure then
// sees the unit that was not loaded: the first reason stays.
TEST(StationPortCycle, ARecordsWriteThatFailsLoadsNoFurtherUnitAndIsTheReasonToStop) {
    LineUnit next;
    next.arriveAfterMs = 500;
    {
        Rig r({LineUnit{}, next});
        r.rules.stopOnFailure = true;
        r.records.failBeginAt = 1;  // the second unit's row cannot be written
        station::StationGate& gate = r.Run();
        EXPECT_EQ(r.port.received.size(), kImageBytes);  // never a load without its row
        EXPECT_TRUE(gate.RecordsFailed());
        EXPECT_NE(gate.StopReason().find("database or disk is full"), std::string::npos) << gate.StopReason();
    }
    {
        Rig r({LineUnit{}, next});
        r.records.failComplete = true;
        station::StationGate& gate = r.Run();
        EXPECT_EQ(r.events.ends.size(), 1u);
        EXPECT_TRUE(gate.RecordsFailed());
    }
}

TEST(StationGate, CountReservesLoadsSoNoMoreStartThanCanCountAndAFailureFreesItsPlace) {
    std::atomic<bool> cancel{false};
    station::StationGate gate({2, false}, &cancel);
    EXPECT_TRUE(gate.TryReserve());
    EXPECT_TRUE(gate.TryReserve());
    EXPECT_FALSE(gate.TryReserve());  // two running fill the count
    gate.Finished(false);
    EXPECT_TRUE(gate.TryReserve());
    gate.Finished(false, true);  // a stopped load frees its place, counted apart
    EXPECT_EQ(gate.Stopped(), 1u);
    EXPECT_EQ(gate.Failed(), 1u);
    EXPECT_TRUE(gate.TryReserve());
    gate.Finished(true);
    gate.Finished(true);
    EXPECT_FALSE(gate.Arming());
    EXPECT_EQ(gate.StopReason(), "--count 2 reached");
    cancel = true;
    EXPECT_TRUE(gate.Cancelled());
}

namespace {

// Codes a fixture's scanner reads at given times after the start, offered to the port's slot.
struct Scans {
    std::unique_ptr<station::CodeCheck> check;
    std::unique_ptr<station::ScanSlot> slot;
    std::vector<std::pair<uint64_t, std::string>> at;  // in time order
    size_t next = 0;

    Scans() {
        std::string error;
        station::CodeCheck::Make(station::kDefaultSerialPattern, &check, &error);
        slot = std::make_unique<station::ScanSlot>(*check);
    }
    void Attach(Rig& r) {
        r.serials.slot = slot.get();
        const uint64_t t0 = r.t0;
        r.line.elsewhere = [this, t0](uint64_t now) {
            while (next < at.size() && now >= t0 + at[next].first) slot->Offer(at[next++].second);
        };
    }
};

std::vector<std::string> SerialsOf(const Records& records) {
    std::vector<std::string> serials;
    for (const auto& start : records.begun) serials.push_back(start.serial);
    return serials;
}

bool Told(const Events& events, const std::string& part) {
    return std::any_of(events.steps.begin(), events.steps.end(),
                       [&](const auto& s) { return s.second.find(part) != std::string::npos; });
}

struct History final : station::LoadHistory {
    std::vector<std::string> loaded;
    bool broken = false;
    bool FindConfirmed(const std::string& serial, station::PreviousLoad* previous, bool* found,
                       std::string* error) override {
        if (broken) {
            *error = "server unreachable";
            return false;
        }
        *found = std::find(loaded.begin(), loaded.end(), serial) != loaded.end();
        *previous = {"2026-12-08 06:12 UTC", "fixture 3", "bench-2"};
        return true;
    }
};

}  // namespace

// A code belongs to the next unit that comes up: scanned before it arrives, or while the one
// before it was still loading; a second scan replaces the first; a unit with no scan loads
// with an empty serial.
TEST(StationPortCycle, EachScanGoesWithTheNextUnitAndASecondScanReplacesTheFirst) {
    LineUnit later;
    later.arriveAfterMs = 1000;
    Rig r({later, later, later});
    r.rules.count = 3;
    Scans scans;
    scans.at = {{200, "A-1"}, {400, "A-2"}, {1150, "B-7"}};
    scans.Attach(r);
    r.Run();
    EXPECT_EQ(SerialsOf(r.records), (std::vector<std::string>{"A-2", "B-7", ""}));
    EXPECT_TRUE(Told(r.events, "SN A-2 scanned: replaces SN A-1"));
    EXPECT_TRUE(Told(r.events, "SN B-7 scanned for the next unit"));
}

// With a serial required, a unit that is up waits for its label; nothing is sent before.
TEST(StationPortCycle, ARequiredSerialHoldsTheUnitUntilItsLabelIsScanned) {
    Rig r({LineUnit{}});
    r.rules.count = 1;
    Scans scans;
    scans.at = {{3000, "bad code!"}, {5000, "SN1234"}};
    scans.Attach(r);
    r.serials.required = true;
    r.Run();
    ASSERT_EQ(r.events.loadStartsMs.size(), 1u);
    EXPECT_GE(r.events.loadStartsMs[0], r.t0 + 5000);
    EXPECT_TRUE(Told(r.events, "scan the unit's label"));
    EXPECT_TRUE(Told(r.events, "refused the scan \"bad code!\""));
    EXPECT_EQ(SerialsOf(r.records), (std::vector<std::string>{"SN1234"}));
}

// A serial with a confirmed load already: warn loads it and says where it was; refuse leaves
// it unloaded, unrecorded and uncounted; a history that cannot be read holds no unit.
TEST(StationPortCycle, AUnitLoadedBeforeIsWarnedAboutOrRefusedAsTheLineSays) {
    struct Case {
        station::Reload reload;
        bool broken;
        size_t rows;
        const char* told;
    };
    const Case cases[] = {
        {station::Reload::Warn, false, 1, "SN U-1 was loaded at 2026-12-08 06:12 UTC on fixture 3, bench-2: loading"},
        {station::Reload::Refuse, false, 0, "bench-2: not loaded again; switch the unit off"},
        {station::Reload::Refuse, true, 1, "SN U-1: its earlier loads cannot be looked up (server unreachable)"},
        {station::Reload::Allow, false, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.told);
        LineUnit later;
        later.arriveAfterMs = 1000;
        Rig r({later});
        r.line.cancelAtMs = r.t0 + 20000;
        Scans scans;
        scans.at = {{100, "U-1"}};
        scans.Attach(r);
        History history;
        history.loaded = {"U-1"};
        history.broken = c.broken;
        r.serials.history = &history;
        r.serials.reload = c.reload;
        station::StationGate& gate = r.Run();
        EXPECT_EQ(r.records.begun.size(), c.rows);
        EXPECT_EQ(r.port.received.size(), c.rows * kImageBytes);
        EXPECT_EQ(gate.Loaded() + gate.Failed(), c.rows);
        if (*c.told != '\0') EXPECT_TRUE(Told(r.events, c.told));
        if (c.reload == station::Reload::Allow) EXPECT_FALSE(Told(r.events, "was loaded at"));
    }
}
