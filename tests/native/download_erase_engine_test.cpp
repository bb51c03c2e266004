// The erase handshake engine on a fake port and clock: the request that reaches the unit,
// the bounds on writing it and on the reply, and how the reply pair is recognised.
#include "download/EraseEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "tests/native/FakePort.h"

using download::EraseOutcome;
using download::EraseResult;
using serial::PortError;

namespace {

const std::vector<uint8_t> kRequest = {0x07, 0x06};
constexpr uint64_t kUnitEraseMs = 50000;

class Recorder final : public download::EraseListener {
public:
    explicit Recorder(fake::FakeClock& clock) : clock_(clock) {}
    bool requestSent = false;
    uint64_t endAtMs = 0;
    const download::FlashErase* erase = nullptr;
    EraseOutcome atEnd;
    void ProgressStart(uint64_t) override { requestSent = true; }
    void ProgressAdvance(uint64_t) override { ADD_FAILURE() << "the erase has no steps to count"; }
    void ProgressEnd() override {
        endAtMs = clock_.NowMs();
        if (erase != nullptr) atEnd = erase->Outcome();
    }
    void Log(const std::string&, std::error_code) override {}
    void Notice(common::NoticeKind, const std::string&) override {}

private:
    fake::FakeClock& clock_;
};

struct Bench {
    fake::FakeClock clock;
    fake::FakePort port{clock};
    Recorder listener{clock};
    uint64_t start = clock.NowMs();

    // The outcome is final at the handshake's end and returned 100 ms later.
    EraseOutcome Go() {
        download::FlashErase erase(port, clock);
        listener.erase = &erase;
        EraseOutcome out = erase.Run(listener);
        listener.erase = nullptr;
        EXPECT_EQ(clock.NowMs(), listener.endAtMs + 100);
        EXPECT_EQ(listener.atEnd.result, out.result);
        EXPECT_TRUE(port.baudChanges.empty());  // the port stays at the erase speed
        return out;
    }
};

}  // namespace

TEST(EraseEngine, RequestThenReplyEndsTheErase) {
    Bench run;
    run.port.Arrive(run.start + kUnitEraseMs, kRequest);
    EXPECT_EQ(run.Go().result, EraseResult::Done);
    EXPECT_EQ(run.port.received, kRequest);
    EXPECT_TRUE(run.listener.requestSent);
    EXPECT_EQ(run.listener.endAtMs, run.start + kUnitEraseMs);
}

TEST(EraseEngine, ShortWriteSendsOnlyTheRemainingByte) {
    Bench run;
    run.port.writeScript = {{1}, {0, PortError::Io}};
    run.port.Arrive(run.start + kUnitEraseMs, kRequest);
    EXPECT_EQ(run.Go().result, EraseResult::Done);
    EXPECT_EQ(run.port.received, kRequest);
    EXPECT_EQ(run.port.offeredSizes, (std::vector<size_t>{2, 1, 1}));
}

TEST(EraseEngine, RequestThatCannotBeWrittenGivesUpAtItsBound) {
    for (PortError error : {PortError::TimedOut, PortError::Io}) {
        SCOPED_TRACE(serial::PortErrorName(error));
        Bench run;
        run.port.afterScript = {0, error};
        EXPECT_EQ(run.Go().result, EraseResult::WriteFailed);
        EXPECT_FALSE(run.listener.requestSent);
        // A write that stays pending is cut at the bound, not waited for without end.
        EXPECT_EQ(run.listener.endAtMs - run.start, download::kEraseWriteGiveUpMs);
    }
}

TEST(EraseEngine, ReplyCountsOnlyAsAnAlignedPair) {
    struct Case {
        const char* name;
        std::vector<std::vector<uint8_t>> chunks;
        EraseResult expected;
    } cases[] = {
        {"wrong pair, then the reply", {{0x06, 0x07}, {0x07, 0x06}}, EraseResult::Done},
        {"reply in single bytes", {{0x07}, {0x06}}, EraseResult::Done},
        {"stray byte shifts the reply out of line", {{0x00, 0x07, 0x06}}, EraseResult::NoReply},
        {"nothing at all", {}, EraseResult::NoReply},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench run;
        uint64_t at = run.start + kUnitEraseMs;
        for (const auto& chunk : c.chunks) run.port.Arrive(at++, chunk);
        EXPECT_EQ(run.Go().result, c.expected);
        if (c.expected == EraseResult::NoReply) {
            EXPECT_EQ(run.listener.endAtMs - run.start, download::kEraseReplyTimeoutMs);
        }
    }
}

TEST(EraseEngine, PortThatVanishesWhileWaitingEndsAtOnce) {
    Bench run;
    run.port.readError = PortError::Gone;
    EraseOutcome out = run.Go();
    EXPECT_EQ(out.result, EraseResult::PortGone);
    EXPECT_EQ(run.listener.endAtMs, run.start);
}

// Ctrl-C while the unit erases: the reply wait looks at the flag in short slices, never in
// one read as long as its whole bound.
TEST(EraseEngine, CtrlCDuringTheReplyWaitEndsItWithinAFractionOfASecond) {
    constexpr uint64_t kCtrlCAfterMs = 20000;
    constexpr uint64_t kPromptMs = 300;
    struct CancellingPort final : fake::PortLoan {
        fake::FakeClock& clock;
        std::atomic<bool>& cancel;
        uint64_t at;
        CancellingPort(fake::FakePort& p, fake::FakeClock& c, std::atomic<bool>& f, uint64_t when)
            : PortLoan(p), clock(c), cancel(f), at(when) {}
        serial::PortStatus Read(uint8_t* b, size_t n, uint32_t t, size_t* count) override {
            // Ctrl-C comes during this read's wait; the wait itself runs to its end.
            serial::PortStatus status = port_.Read(b, n, t, count);
            if (clock.NowMs() >= at) cancel.store(true);
            return status;
        }
    };
    Bench run;
    std::atomic<bool> cancel{false};
    CancellingPort port(run.port, run.clock, cancel, run.start + kCtrlCAfterMs);
    download::EraseLimits limits;
    limits.cancel = &cancel;
    EraseOutcome out = download::RunFlashErase(port, run.clock, run.listener, limits);
    EXPECT_EQ(out.result, EraseResult::Cancelled);
    EXPECT_LE(run.listener.endAtMs - (run.start + kCtrlCAfterMs), kPromptMs);
}
