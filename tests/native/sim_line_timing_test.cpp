// The unit's line timing: the turnaround clock (which drains and reads make a sample, and
// the percentiles a benchmark reads from it) and the pacer's start after a quiet line.
#include <gtest/gtest.h>

#include "sim/LineTiming.h"
#include "sim/Pacer.h"

namespace sim {
namespace {

TEST(SimTurnaroundClock, OneSamplePerAnsweredDrain) {
    TurnaroundClock clock;
    clock.inputArrived(100);  // the PC speaks first: nothing to time
    EXPECT_EQ(clock.count(), 0u);

    clock.outputDrained(1000);
    clock.inputArrived(1750);
    clock.inputArrived(1900);  // the rest of the same answer
    ASSERT_EQ(clock.count(), 1u);
    EXPECT_EQ(clock.percentileUs(0.5), 750u);

    // A second drain before any answer restarts the clock from the later one.
    clock.outputDrained(5000);
    clock.outputDrained(6000);
    clock.inputArrived(6400);
    ASSERT_EQ(clock.count(), 2u);
    EXPECT_EQ(clock.percentileUs(0.0), 400u);

    clock.clear();
    clock.inputArrived(7000);
    EXPECT_EQ(clock.count(), 0u);
    EXPECT_EQ(clock.percentileUs(0.99), 0u);
}

TEST(SimTurnaroundClock, NearestRankPercentilesAndReport) {
    TurnaroundClock clock;
    for (uint64_t i = 100; i >= 1; --i) {  // 1..100 us, fed in reverse
        clock.outputDrained(i * 1000);
        clock.inputArrived(i * 1000 + i);
    }
    EXPECT_EQ(clock.percentileUs(0.5), 50u);
    EXPECT_EQ(clock.percentileUs(0.99), 99u);
    EXPECT_EQ(clock.percentileUs(1.0), 100u);
    Json report = clock.toJson(true);
    EXPECT_EQ(member(report, "count")->get<double>(), 100);
    EXPECT_EQ(member(report, "median_us")->get<double>(), 50);
    EXPECT_EQ(member(report, "p99_us")->get<double>(), 99);
    EXPECT_EQ(member(report, "samples_us")->size(), 100u);
    EXPECT_FALSE(clock.toJson(false).contains("samples_us"));
}

TEST(SimPacer, NoByteRidesFreeAfterAPause) {
    constexpr uint32_t kBaud = 38400;
    constexpr uint64_t kByteUs = 11 * 1000000ull / kBaud;  // 286 us
    Pacer pacer;
    pacer.allowance(0, kBaud);
    // A second of quiet saves up a burst in the bucket...
    EXPECT_GT(pacer.allowance(1000000, kBaud), 60u);
    // ...which a quiet line must not hand to the next frame: its first byte takes a full
    // byte-time, and ten bytes take ten.
    pacer.startFromIdle(1000000);
    EXPECT_EQ(pacer.allowance(1000000, kBaud), 0u);
    EXPECT_NEAR(double(pacer.waitUs(1000000, kBaud)), double(kByteUs), 2.0);
    EXPECT_EQ(pacer.allowance(1000000 + 10 * kByteUs + 5, kBaud), 10u);
}

TEST(SimPacer, AReaderWakesOncePerChunkNotOncePerByte) {
    constexpr uint32_t kBaud = 115200;
    const size_t chunk = Pacer::chunkBytes(kBaud);
    EXPECT_NEAR(double(chunk), 10000 * Pacer::bytesPerSecond(kBaud) / 1e6, 1.0);  // 10 ms of line
    Pacer pacer;
    pacer.startFromIdle(0);
    const uint64_t wait = pacer.waitUs(0, kBaud, chunk);
    EXPECT_NEAR(double(wait), 10000.0, 100.0);
    EXPECT_EQ(pacer.allowance(wait, kBaud), chunk);
    // A short frame is taken whole when its last byte is through, not a chunk later.
    Pacer frame;
    frame.startFromIdle(0);
    EXPECT_NEAR(double(frame.waitUs(0, kBaud, 12)), 12 * 1e6 / Pacer::bytesPerSecond(kBaud), 2.0);
}

TEST(SimPacer, ABusyLineKeepsCarryingWhileTheProcessIsLate) {
    constexpr uint32_t kBaud = 115200;
    const double perUs = Pacer::bytesPerSecond(kBaud) / 1e6;
    Pacer pacer;
    pacer.startFromIdle(0);
    pacer.consume(pacer.allowance(1000, kBaud));
    // Kept from the core for 30 ms mid-frame: the line went on, so those bytes are there.
    EXPECT_NEAR(double(pacer.allowance(31000, kBaud)), 30000 * perUs, 1.0);
    // A far longer wait catches up no more than the unit could have held.
    Pacer late;
    late.startFromIdle(0);
    EXPECT_NEAR(double(late.allowance(5000000, kBaud)), 100000 * perUs, 1.0);
}

}  // namespace
}  // namespace sim
