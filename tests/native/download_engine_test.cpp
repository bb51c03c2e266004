// The image download engine on a fake port and clock: what reaches the unit, when the
// stream gives up, and that every ending pauses and returns the port to the link's speed.
#include "download/DownloadEngine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/ImageCursor.h"
#include "tests/native/FakePort.h"

using download::DownloadOutcome;
using download::DownloadResult;
using serial::PortError;

namespace {

constexpr uint32_t kBaud = 115200;
constexpr uint32_t kBootloaderSize = 249008;  // 15 full blocks and 3 248 bytes

std::vector<uint8_t> Image(uint32_t size) {
    std::vector<uint8_t> image(size);
    for (uint32_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 31 + i / 251);
    return image;
}

// Records the calls in order, with the fake time of each, and the outcome the engine shows
// at the stream's end.
class Recorder final : public download::DownloadListener {
public:
    explicit Recorder(fake::FakeClock& clock) : clock_(clock) {}
    std::vector<std::string> calls;
    std::vector<uint64_t> progress;
    uint64_t endAtMs = 0;
    const download::ImageDownload* download = nullptr;
    DownloadOutcome atEnd;
    std::atomic<bool>* raise = nullptr;

    void ProgressStart(uint64_t) override { calls.push_back("start"); }
    void ProgressAdvance(uint64_t sent) override {
        progress.push_back(sent);
        if (raise != nullptr) raise->store(true);
    }
    void ProgressEnd() override {
        calls.push_back("end");
        endAtMs = clock_.NowMs();
        if (download != nullptr) atEnd = download->Outcome();
    }
    void Log(const std::string&, std::error_code) override { calls.push_back("log"); }
    void Notice(common::NoticeKind, const std::string&) override { calls.push_back("notice"); }

private:
    fake::FakeClock& clock_;
};

struct Bench {
    fake::FakeClock clock;
    fake::FakePort port{clock};
    Recorder listener{clock};
    std::vector<uint8_t> image;
    DownloadOutcome out;
    uint64_t returnedAtMs = 0;

    DownloadOutcome Go(uint32_t size, const std::atomic<bool>* cancel = nullptr, bool endOnCtsDrop = false) {
        image = Image(size);
        download::DownloadRequest request{image.data(), size, kBaud, cancel, endOnCtsDrop};
        download::ImageDownload download(port, clock, request);
        listener.download = &download;
        out = download.Run(listener);
        listener.download = nullptr;
        returnedAtMs = clock.NowMs();
        return out;
    }
    // Every ending: stream end (the outcome already final there), 100 ms, the port back at
    // 38 400, then the outcome returned.
    void ExpectOrderlyEnding() const {
        EXPECT_EQ(listener.calls, (std::vector<std::string>{"start", "end"}));
        EXPECT_EQ(listener.atEnd.result, out.result);
        EXPECT_EQ(listener.atEnd.bytesSent, out.bytesSent);
        EXPECT_EQ(listener.atEnd.total, out.total);
        ASSERT_EQ(port.baudChanges.size(), 1u);
        EXPECT_EQ(port.baudChanges[0].first, serial::kLinkBaudRate);
        EXPECT_EQ(port.baudChanges[0].second, listener.endAtMs + 100);
        EXPECT_EQ(returnedAtMs, port.baudChanges[0].second);
    }
};

}  // namespace

TEST(DownloadEngine, WholeImageGoesInFullBlocksAndOneShortLast) {
    for (uint32_t size : {kBootloaderSize, 2 * download::kBlockSize, 1u}) {
        SCOPED_TRACE(size);
        Bench run;
        DownloadOutcome out = run.Go(size);
        EXPECT_EQ(out.result, DownloadResult::Done);
        EXPECT_EQ(out.bytesSent, size);
        EXPECT_TRUE(run.port.received == run.image);
        std::vector<size_t> expected(size / download::kBlockSize, download::kBlockSize);
        if (size % download::kBlockSize != 0) expected.push_back(size % download::kBlockSize);
        EXPECT_EQ(run.port.offeredSizes, expected);
        EXPECT_EQ(run.listener.progress.back(), size);
        run.ExpectOrderlyEnding();
    }
}

TEST(DownloadEngine, ShortAndEmptyWritesGoOnFromWhereTheLineStopped) {
    Bench run;
    run.port.writeScript = {{1000}, {0}, {16383}, {5, PortError::Io}, {0, PortError::Io}};
    DownloadOutcome out = run.Go(kBootloaderSize);
    EXPECT_EQ(out.result, DownloadResult::Done);
    EXPECT_TRUE(run.port.received == run.image);  // nothing skipped, nothing sent twice
    // A short write keeps the block size; the rest is offered from the advanced cursor.
    EXPECT_EQ(run.port.offeredSizes[1], download::kBlockSize);
    EXPECT_EQ(run.clock.SleptMs(), 2 * 50 + 100u);  // a pause after each empty write, then the settle
    run.ExpectOrderlyEnding();
}

TEST(DownloadEngine, PortThatTakesNothingEndsAtTheStallBoundWithTheBytesSent) {
    const uint32_t bound = download::WriteStallLimitMs(kBaud);
    struct Case {
        const char* name;
        fake::WriteStep stuck;
    } cases[] = {
        {"write stays pending", {0, PortError::TimedOut}},
        {"write refused at once", {0, PortError::Io}},
        {"write pending, part of the block leaves", {700, PortError::TimedOut}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench run;
        run.port.writeScript = {{SIZE_MAX, PortError::None, 10}};  // one block, then the unit stops
        run.port.afterScript = c.stuck;
        const uint64_t lastProgress = run.clock.NowMs() + 10;
        DownloadOutcome out = run.Go(kBootloaderSize);
        EXPECT_EQ(out.result, DownloadResult::Stalled);
        EXPECT_EQ(out.stallLimitMs, bound);
        EXPECT_EQ(out.bytesSent, download::kBlockSize + (c.stuck.maxBytes == SIZE_MAX ? 0 : c.stuck.maxBytes));
        // Not sooner than the bound, and later by at most one pause between refused writes.
        EXPECT_GE(run.listener.endAtMs - lastProgress, bound);
        EXPECT_LE(run.listener.endAtMs - lastProgress, bound + 50);
        for (uint32_t timeout : run.port.writeTimeouts) EXPECT_LE(timeout, bound);
        run.ExpectOrderlyEnding();
    }
}

TEST(DownloadEngine, VanishedPortEndsAtOnce) {
    Bench run;
    run.port.writeScript = {{}, {}, {100, PortError::Gone}};
    DownloadOutcome out = run.Go(kBootloaderSize);
    EXPECT_EQ(out.result, DownloadResult::PortGone);
    EXPECT_EQ(out.bytesSent, 2 * download::kBlockSize + 100);
    EXPECT_EQ(out.lastError.error, PortError::Gone);
    EXPECT_EQ(run.port.offeredSizes.size(), 3u);
    run.ExpectOrderlyEnding();
}

TEST(DownloadEngine, CancelStopsBeforeTheNextBlock) {
    Bench run;
    std::atomic<bool> cancel{false};
    run.listener.raise = &cancel;
    DownloadOutcome out = run.Go(kBootloaderSize, &cancel);
    EXPECT_EQ(out.result, DownloadResult::Cancelled);
    EXPECT_EQ(out.bytesSent, download::kBlockSize);
    EXPECT_EQ(run.port.offeredSizes.size(), 1u);
    run.ExpectOrderlyEnding();
}

TEST(DownloadEngine, DoneOnlyOnceThePortsQueueHasLeftForTheLine) {
    Bench run;
    run.port.drainTakesMs = 700;  // the last bytes still queued when the last write returns
    EXPECT_EQ(run.Go(kBootloaderSize).result, DownloadResult::Done);
    ASSERT_EQ(run.port.drains.size(), 1u);
    EXPECT_EQ(run.listener.endAtMs, run.port.drains[0]) << "the stream ends when the queue has drained";
    run.ExpectOrderlyEnding();

    Bench stuck;  // every byte was taken; a queue that outlasts its bound does not undo that
    stuck.port.drainTakesMs = UINT32_MAX;
    EXPECT_EQ(stuck.Go(kBootloaderSize).result, DownloadResult::Done);
    EXPECT_EQ(stuck.port.drains[0], stuck.listener.endAtMs);

    Bench gone;
    gone.port.drainError = PortError::Gone;
    DownloadOutcome out = gone.Go(kBootloaderSize);
    EXPECT_EQ(out.result, DownloadResult::PortGone);
    EXPECT_EQ(out.lastError.error, PortError::Gone);
    gone.ExpectOrderlyEnding();

    Bench cut;  // a stream cut short has nothing to wait for
    cut.port.afterScript = {0, PortError::Gone};
    cut.Go(kBootloaderSize);
    EXPECT_TRUE(cut.port.drains.empty());
}

TEST(DownloadEngine, UnitThatDropsCtsBeforeTheLastByteLeftFailsWithItsCount) {
    constexpr uint32_t kBlockMs = 1400;  // one full block on the line at 115 200 baud
    struct Case {
        const char* name;
        uint64_t dropAfterMs;  // from the start of the stream
        DownloadResult result;
        uint64_t bytesSent;
        size_t writes;
    } cases[] = {
        {"mid-image: no block after the drop", kBlockMs * 3 + 200, DownloadResult::UnitEnded, 4 * download::kBlockSize,
         4},
        {"while the queue drains", kBlockMs * 16 + 300, DownloadResult::UnitEnded, kBootloaderSize, 16},
        {"after the queue drained: the unit's own end", kBlockMs * 16 + 800, DownloadResult::Done, kBootloaderSize, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench run;
        run.port.cts = true;
        run.port.afterScript = {SIZE_MAX, PortError::None, kBlockMs};
        run.port.drainTakesMs = 700;
        run.port.ctsDownAtMs = run.clock.NowMs() + c.dropAfterMs;
        DownloadOutcome out = run.Go(kBootloaderSize, nullptr, true);
        EXPECT_EQ(out.result, c.result);
        EXPECT_EQ(out.bytesSent, c.bytesSent);
        EXPECT_EQ(run.port.offeredSizes.size(), c.writes);
        // Seen at the next look: between two writes, or within a slice of the drain.
        if (c.result == DownloadResult::UnitEnded) {
            EXPECT_LE(run.listener.endAtMs - run.port.ctsDownAtMs, kBlockMs);
        }
        run.ExpectOrderlyEnding();
    }

    Bench wizard;  // without the watch, CTS is not the engine's business
    wizard.port.cts = false;
    EXPECT_EQ(wizard.Go(kBootloaderSize).result, DownloadResult::Done);
}
