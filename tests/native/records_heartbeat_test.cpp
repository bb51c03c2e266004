// The station's heartbeat on a fake clock: the first description goes at once, then a beat
// every five seconds, or one second after the last when the description changed, always with
// the latest; a beat the server refuses waits as a failed forward does and is counted; the end
// goes at once, even in a pause, and is the last.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "records/HeartbeatStep.h"

namespace {

using records::Heartbeat;
using records::HeartbeatStep;
using records::kChangedBeatAfterMs;
using records::kHeartbeatEveryMs;
using records::kNoBeatDue;

struct BeatServer : records::RowSink {
    std::vector<Heartbeat> beats;
    bool fail = false;
    size_t resets = 0;
    bool Send(const std::string&, const std::vector<records::Row>&, size_t*, records::ServerError*) override {
        return true;
    }
    bool Beat(const Heartbeat& heartbeat, records::ServerError* error) override {
        if (fail) {
            *error = {false, "the server answered no statement within its time"};
            return false;
        }
        beats.push_back(heartbeat);
        return true;
    }
    void Reset() override { ++resets; }
};

Heartbeat Said(const std::string& state, bool ended = false) {
    Heartbeat beat;
    beat.station = "bench-2";
    beat.state = state;
    beat.ended = ended;
    return beat;
}

TEST(Heartbeat, TheFirstGoesAtOnceThenEveryFiveSecondsOrOneAfterAChangeWithTheLatest) {
    BeatServer server;
    HeartbeatStep step(server, 7);
    EXPECT_EQ(step.Run(0), kNoBeatDue);  // nothing said yet
    step.Describe(Said("{\"loaded\":0}"));
    EXPECT_EQ(step.DueMs(), 0);
    EXPECT_EQ(step.Run(100), 100 + kHeartbeatEveryMs);
    step.Describe(Said("{\"loaded\":0}"));  // the same again: no sooner
    EXPECT_EQ(step.DueMs(), 100 + kHeartbeatEveryMs);
    step.Describe(Said("{\"loaded\":1}"));
    step.Describe(Said("{\"loaded\":2}"));
    EXPECT_EQ(step.DueMs(), 100 + kChangedBeatAfterMs);
    EXPECT_EQ(step.Run(100 + kChangedBeatAfterMs - 1), 100 + kChangedBeatAfterMs);
    ASSERT_EQ(server.beats.size(), 1u);
    EXPECT_EQ(step.Run(100 + kChangedBeatAfterMs), 100 + kChangedBeatAfterMs + kHeartbeatEveryMs);
    ASSERT_EQ(server.beats.size(), 2u);
    EXPECT_EQ(server.beats[1].state, "{\"loaded\":2}");
    EXPECT_EQ(step.Failures(), 0u);
}

TEST(Heartbeat, ARefusedBeatIsCountedAndWaitsThePauseAndTheEndGoesAtOnceAndLast) {
    BeatServer server;
    HeartbeatStep step(server, 7);
    step.Describe(Said("{}"));
    server.fail = true;
    const int64_t retry = step.Run(0);
    EXPECT_GT(retry, 0);
    EXPECT_LE(retry, records::kFirstPauseMs);
    EXPECT_EQ(step.Failures(), 1u);
    EXPECT_EQ(server.resets, 1u);  // connected afresh next time
    step.Describe(Said("{\"loaded\":1}"));
    EXPECT_EQ(step.DueMs(), retry);  // a change does not cut the pause short
    const int64_t longer = step.Run(retry);
    EXPECT_GT(longer - retry, retry);  // the pause doubles, as a failed forward's does
    EXPECT_EQ(step.Failures(), 2u);

    step.Describe(Said("{}", true));
    EXPECT_EQ(step.DueMs(), 0);  // the end does not wait out the pause
    const int64_t afterEnd = step.Run(retry + 1);
    EXPECT_GT(afterEnd, retry + 1);  // a refused end is tried again after a pause, not at once
    EXPECT_FALSE(step.EndSaid());
    server.fail = false;
    EXPECT_EQ(step.Run(afterEnd), kNoBeatDue);
    ASSERT_EQ(server.beats.size(), 1u);
    EXPECT_TRUE(server.beats[0].ended);
    EXPECT_TRUE(step.EndSaid());
    step.Describe(Said("{}", true));
    EXPECT_EQ(step.Run(afterEnd + 2 * kHeartbeatEveryMs), kNoBeatDue);
    EXPECT_EQ(server.beats.size(), 1u);
}

}  // namespace
