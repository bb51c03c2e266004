// The loop that runs a transfer engine on a port: bytes reach the engine as they arrive, the
// timer step runs every 100 ms on a silent line, and Ctrl-C or a lost port end it at once.
#include <gtest/gtest.h>

#include <atomic>

#include "cli/service/LinkLoop.h"
#include "tests/native/FakePort.h"

namespace {

struct CountingPump final : cli::LinkPump {
    fake::FakeClock& clock;
    std::vector<std::pair<uint64_t, size_t>> fed;  // when, how many bytes
    std::vector<uint64_t> ticks;
    size_t ticksUntilDone = SIZE_MAX;
    explicit CountingPump(fake::FakeClock& c) : clock(c) {}
    void Feed(const uint8_t*, size_t count) override { fed.emplace_back(clock.NowMs(), count); }
    void Tick() override { ticks.push_back(clock.NowMs()); }
    bool Finished() const override { return ticks.size() >= ticksUntilDone; }
};

TEST(CliLinkLoop, FeedsBytesWhenTheyArriveAndTicksEveryHundredMs) {
    fake::FakeClock clock;
    fake::FakePort port(clock);
    const uint64_t start = clock.NowMs();
    port.Arrive(start + 30, {1, 2, 3});
    port.Arrive(start + 250, {4});
    CountingPump pump(clock);
    pump.ticksUntilDone = 5;
    cli::LinkLoopResult result = cli::RunLinkLoop(port, clock, pump, nullptr);
    EXPECT_EQ(result.end, cli::LinkLoopEnd::Finished);
    ASSERT_EQ(pump.fed.size(), 2u);
    EXPECT_EQ(pump.fed[0], std::make_pair(start + 30, size_t{3}));
    EXPECT_EQ(pump.fed[1], std::make_pair(start + 250, size_t{1}));
    ASSERT_EQ(pump.ticks.size(), 5u);
    for (size_t i = 0; i < pump.ticks.size(); ++i) EXPECT_EQ(pump.ticks[i], start + (i + 1) * cli::kLinkTickMs);
}

TEST(CliLinkLoop, CtrlCAndALostPortEndTheLoop) {
    fake::FakeClock clock;
    fake::FakePort port(clock);
    CountingPump pump(clock);
    std::atomic<bool> cancel{true};
    EXPECT_EQ(cli::RunLinkLoop(port, clock, pump, &cancel).end, cli::LinkLoopEnd::Cancelled);

    port.readError = serial::PortError::Gone;
    cli::LinkLoopResult lost = cli::RunLinkLoop(port, clock, pump, nullptr);
    EXPECT_EQ(lost.end, cli::LinkLoopEnd::PortFailed);
    EXPECT_EQ(lost.failure.error, serial::PortError::Gone);
}

TEST(CliFrameWriter, WritesWholeFramesAndRemembersAPortThatIsGone) {
    fake::FakeClock clock;
    fake::FakePort port(clock);
    const std::vector<uint8_t> frame = {0x7E, 0x7E, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    port.writeScript = {{4}, {SIZE_MAX}};  // the line takes the frame in two parts
    cli::FrameWriter writer(port);
    writer.Write(frame.data(), frame.size());
    EXPECT_EQ(port.received, frame);
    EXPECT_FALSE(writer.Gone());

    // A write the line does not take is left to the engine's resends, not retried here.
    port.writeScript = {{0, serial::PortError::TimedOut}};
    writer.Write(frame.data(), frame.size());
    EXPECT_EQ(port.offeredSizes.size(), 3u);

    EXPECT_FALSE(writer.LastWhole());
    EXPECT_EQ(writer.LastStatus().error, serial::PortError::TimedOut);

    port.afterScript = {0, serial::PortError::Gone};
    writer.Write(frame.data(), frame.size());
    EXPECT_TRUE(writer.Gone());
    writer.Write(frame.data(), frame.size());
    EXPECT_EQ(port.offeredSizes.size(), 4u);
}

// A write that fails outright (an adapter pulled out mid-write reads as an I/O error on some
// drivers) ends the link at once, instead of six resends into nothing and "Retry count
// exceeded".
TEST(CliFrameWriter, AWriteThatFailsWithAnIoErrorIsALostPort) {
    fake::FakeClock clock;
    fake::FakePort port(clock);
    port.afterScript = {0, serial::PortError::Io};
    cli::FrameWriter writer(port);
    const uint8_t frame[] = {0x7E, 0x7E, 1, 2};
    writer.Write(frame, sizeof frame);
    EXPECT_TRUE(writer.Gone());
    EXPECT_EQ(writer.GoneStatus().error, serial::PortError::Io);
    EXPECT_FALSE(writer.LastWhole());
}

}  // namespace
