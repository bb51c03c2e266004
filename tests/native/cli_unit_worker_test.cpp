// One unit's worker on a fake port and clock: the wait for CTS and its bounds, the steps and
// the one end event of a download or an erase, and each failure as one reason.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakePort.h"
#include "cli/load/CtsWait.h"
#include "cli/load/UnitWorker.h"
#include "download/EraseEngine.h"

namespace {

using cli::EventKind;
using serial::PortError;

constexpr uint32_t kWaitMs = 3000;
constexpr uint32_t kBaud = 115200;

// Lends a test's FakePort to code that owns its port; CTS rises at a chosen time.
class LentPort final : public fake::PortLoan {
public:
    LentPort(fake::FakePort& port, fake::FakeClock& clock, uint64_t ctsFromMs, bool hasCts = true)
        : PortLoan(port), clock_(clock), ctsFromMs_(ctsFromMs), hasCts_(hasCts) {}
    bool HasCts() const override { return hasCts_; }
    serial::PortStatus ReadCts(bool* on) override {
        serial::PortStatus status = port_.ReadCts(on);
        *on = status.Ok() && clock_.NowMs() >= ctsFromMs_;
        return status;
    }

private:
    fake::FakeClock& clock_;
    uint64_t ctsFromMs_;
    bool hasCts_;
};

struct Recorder final : cli::UnitEventSink {
    std::vector<cli::UnitEvent> events;
    void Report(const cli::UnitEvent& event) override { events.push_back(event); }
    std::vector<EventKind> Kinds() const {
        std::vector<EventKind> kinds;
        for (const auto& e : events) {
            if (kinds.empty() || kinds.back() != e.kind) kinds.push_back(e.kind);
        }
        return kinds;
    }
    const cli::UnitEvent& Last() const { return events.back(); }
};

// One unit's port, clock and recorded events.
struct Rig {
    fake::FakeClock clock;
    fake::FakePort port{clock, "/dev/ttyUSB3"};
    Recorder recorder;
    std::vector<uint8_t> image = std::vector<uint8_t>(40000, 0xA5);
    serial::PortStatus openStatus;  // what opening gives; None opens the fake
    uint64_t ctsFromMs = 0;
    bool hasCts = true;  // false: a raw network port, whose CTS reads low for ever

    cli::UnitContext Context() {
        cli::UnitContext context;
        context.unit = 0;
        context.port = port.Name();
        context.open = [this](const std::string&, serial::PortStatus* status) -> std::unique_ptr<serial::SerialPort> {
            *status = openStatus;
            if (!openStatus.Ok()) return nullptr;
            return std::make_unique<LentPort>(port, clock, ctsFromMs, hasCts);
        };
        context.clock = &clock;
        context.sink = &recorder;
        return context;
    }
    bool Download(bool waitForCts = true) {
        cli::DownloadPlan plan{{image.data(), static_cast<uint32_t>(image.size())}, kBaud, kWaitMs, waitForCts};
        return cli::RunDownloadUnit(Context(), plan);
    }
};

TEST(CliUnitWorker, CtsWaitReturnsWhenTheLineRisesAndNotBefore) {
    Rig r;
    auto& clock = r.clock;
    auto& port = r.port;
    const uint64_t start = clock.NowMs();
    LentPort lent(port, clock, start + 1234);
    serial::PortStatus failure;
    EXPECT_EQ(cli::WaitForCts(lent, clock, kWaitMs, nullptr, &failure), cli::CtsWaitResult::Ready);
    EXPECT_GE(clock.NowMs() - start, 1234u);
    EXPECT_LT(clock.NowMs() - start, 1234u + cli::kCtsPollMs);
}

TEST(CliUnitWorker, CtsWaitEndsExactlyAtItsLimitOnCancelAndOnAPortFailure) {
    Rig r;
    auto& clock = r.clock;
    auto& port = r.port;
    const uint64_t start = clock.NowMs();
    LentPort never(port, clock, UINT64_MAX);
    serial::PortStatus failure;
    EXPECT_EQ(cli::WaitForCts(never, clock, kWaitMs, nullptr, &failure), cli::CtsWaitResult::TimedOut);
    EXPECT_EQ(clock.NowMs() - start, kWaitMs);

    std::atomic<bool> cancel{true};
    EXPECT_EQ(cli::WaitForCts(never, clock, kWaitMs, &cancel, &failure), cli::CtsWaitResult::Cancelled);

    port.Close();  // reads now fail
    EXPECT_EQ(cli::WaitForCts(never, clock, kWaitMs, nullptr, &failure), cli::CtsWaitResult::PortFailed);
    EXPECT_EQ(failure.error, PortError::Io);
}

TEST(CliUnitWorker, DownloadWaitsForCtsSwitchesSpeedStreamsAndEndsWithTheCountToCompare) {
    Rig r;
    auto& port = r.port;
    auto& recorder = r.recorder;
    auto& image = r.image;
    const uint64_t ctsFromMs = r.clock.NowMs() + 500;
    r.ctsFromMs = ctsFromMs;
    EXPECT_TRUE(r.Download());
    EXPECT_EQ(port.received, image);
    ASSERT_EQ(port.baudChanges.size(), 2u);
    EXPECT_EQ(port.baudChanges[0].first, kBaud);
    EXPECT_GE(port.baudChanges[0].second, ctsFromMs) << "no speed change before the unit is ready";
    EXPECT_EQ(port.baudChanges[1].first, serial::kLinkBaudRate);
    EXPECT_EQ(recorder.Kinds(),
              (std::vector<EventKind>{EventKind::Waiting, EventKind::Start, EventKind::Progress, EventKind::Done}));
    EXPECT_NE(recorder.events[0].text.find("hold C while switching the unit on"), std::string::npos);
    EXPECT_NE(recorder.events[0].text.find("115200"), std::string::npos);
    EXPECT_EQ(recorder.Last().bytes, image.size());
    EXPECT_NE(recorder.Last().text.find("display shows 40000"), std::string::npos) << recorder.Last().text;
    EXPECT_TRUE(port.closed) << "the worker lets go of its port";
}

TEST(CliUnitWorker, WithoutTheCtsWaitTheDownloadStartsAtOnce) {
    Rig r;
    r.ctsFromMs = UINT64_MAX;  // a port without CTS
    r.hasCts = false;
    const uint64_t start = r.clock.NowMs();
    EXPECT_TRUE(r.Download(false));
    ASSERT_FALSE(r.port.baudChanges.empty());
    EXPECT_EQ(r.port.baudChanges[0].second, start) << "no wait before the speed change";
    EXPECT_EQ(r.recorder.Kinds().front(), EventKind::Start);
}

struct FailureCase {
    const char* what;
    void (*arrange)(Rig&);
    const char* reason;  // the start of the one failure line
};

TEST(CliUnitWorker, EachFailureIsOneEndEventWithItsReason) {
    const FailureCase cases[] = {
        {"busy",
         [](Rig& t) {
             t.openStatus = {PortError::Busy, "Device or resource busy"};
         },
         "cannot open the port: port is busy (Device or resource busy)"},
        {"no CTS", [](Rig& t) { t.ctsFromMs = UINT64_MAX; }, "no CTS within 3 s"},
        {"gone",
         [](Rig& t) {
             t.port.writeScript = {{}, {0, PortError::Gone, 0}};
         },
         "the port is gone (adapter unplugged?) after 16384 of 40000 bytes: device is gone"},
        {"stalled",
         [](Rig& t) {
             t.port.afterScript = {0, PortError::TimedOut, 0};
         },
         "the unit stopped reading: the port took no data for 6 seconds after 0 of 40000 bytes"},
    };
    for (const FailureCase& c : cases) {
        Rig t;
        c.arrange(t);
        EXPECT_FALSE(t.Download()) << c.what;
        size_t ends = 0;
        for (const auto& e : t.recorder.events) ends += e.kind == EventKind::Done || e.kind == EventKind::Failed;
        EXPECT_EQ(ends, 1u) << c.what;
        EXPECT_EQ(t.recorder.Last().kind, EventKind::Failed) << c.what;
        EXPECT_EQ(t.recorder.Last().text.rfind(c.reason, 0), 0u) << c.what << ": " << t.recorder.Last().text;
    }
}

TEST(CliUnitWorker, EraseAtItsSpeedEndsOnTheUnitsReplyOrItsAbsence) {
    Rig r;
    auto& port = r.port;
    auto& recorder = r.recorder;
    port.Arrive(r.clock.NowMs() + 2000, {0x07, 0x06});
    EXPECT_TRUE(cli::RunEraseUnit(r.Context()));
    EXPECT_EQ(port.received, (std::vector<uint8_t>{0x07, 0x06}));
    ASSERT_FALSE(port.baudChanges.empty());
    EXPECT_EQ(port.baudChanges[0].first, download::kEraseBaudRate);
    EXPECT_EQ(recorder.Kinds(), (std::vector<EventKind>{EventKind::Start, EventKind::Done}));

    Rig silent;
    EXPECT_FALSE(cli::RunEraseUnit(silent.Context()));
    EXPECT_EQ(silent.recorder.Last().text, "no answer from the unit within 120 s");
}

}  // namespace
