// The receiver state machine against the frame vectors: chunking, noise, false marks,
// empty and oversize payloads, checksum faults and resets from the timer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "link/Frame.h"
#include "link/LinkState.h"
#include "link/PacketReceiver.h"

using namespace packetlink;

namespace {

const std::vector<uint8_t> kExampleFrame = {0x7E, 0x7E, 0x48, 0x00, 0x01, 0x00, 0x15, 0x00, 0x01, 0x00, 0x31};

struct Collector {
    std::vector<PacketRecord> frames;
    static void Sink(const PacketRecord& frame, void* context) {
        static_cast<Collector*>(context)->frames.push_back(frame);
    }
};

class ReceiverTest : public ::testing::Test {
protected:
    void Feed(const std::vector<uint8_t>& bytes, uint32_t now = 1000) {
        receiver.Receive(bytes.data(), bytes.size(), now, Collector::Sink, &out);
    }
    std::atomic<LinkState> linkState{LinkState::AwaitingReply};
    PacketReceiver receiver{linkState};
    Collector out;
};

void ExpectExampleRecord(const PacketRecord& r) {
    EXPECT_EQ(r.receivedChecksum, 72);
    EXPECT_EQ(r.computedChecksum, 72);
    EXPECT_EQ(r.length, 1);
    EXPECT_EQ(r.command, 21);
    EXPECT_EQ(r.id, 1);
    EXPECT_EQ(r.payloadCount, 1);
    EXPECT_EQ(r.payload[0], '1');
    EXPECT_EQ(r.payload[1], 0) << "payload is terminated for handlers that read it as text";
}

TEST_F(ReceiverTest, ExampleFrameInOneCallAndByteByByte) {
    Feed(kExampleFrame);
    ASSERT_EQ(out.frames.size(), 1u);
    ExpectExampleRecord(out.frames[0]);
    EXPECT_EQ(linkState.load(), LinkState::Idle);

    for (uint8_t b : kExampleFrame) Feed({b});
    ASSERT_EQ(out.frames.size(), 2u);
    ExpectExampleRecord(out.frames[1]);
}

TEST_F(ReceiverTest, EverySplitPointGivesTheSameSingleRecord) {
    for (size_t split = 1; split < kExampleFrame.size(); ++split) {
        out.frames.clear();
        Feed({kExampleFrame.begin(), kExampleFrame.begin() + static_cast<long>(split)});
        EXPECT_TRUE(out.frames.empty());
        EXPECT_EQ(linkState.load(), LinkState::Receiving) << "split " << split;
        Feed({kExampleFrame.begin() + static_cast<long>(split), kExampleFrame.end()});
        ASSERT_EQ(out.frames.size(), 1u) << "split " << split;
        ExpectExampleRecord(out.frames[0]);
    }
}

TEST_F(ReceiverTest, TwoFramesInOneCallArePostedInOrder) {
    std::vector<uint8_t> bytes = EncodeFrame(3, 7, reinterpret_cast<const uint8_t*>("abc"), 3);
    bytes.insert(bytes.end(), kExampleFrame.begin(), kExampleFrame.end());
    Feed(bytes);
    ASSERT_EQ(out.frames.size(), 2u);
    EXPECT_EQ(out.frames[0].command, 3);
    EXPECT_EQ(out.frames[0].computedChecksum, 307);
    ExpectExampleRecord(out.frames[1]);
}

TEST_F(ReceiverTest, NoiseAndFalseMarksBeforeAFrame) {
    std::vector<uint8_t> bytes = {0x00, 0x41, 0xFF, 0x7E, 0x41};  // noise, then a mark that fails
    Feed(bytes);
    // Noise keeps the link "receiving", so the byte timeout still resends a pending packet.
    EXPECT_EQ(linkState.load(), LinkState::Receiving) << "a failed second mark must not end the wait";
    Feed(kExampleFrame);
    ASSERT_EQ(out.frames.size(), 1u);
    ExpectExampleRecord(out.frames[0]);

    // 7E 41 7E 7E: the frame starts at the third byte.
    out.frames.clear();
    bytes = {0x7E, 0x41};
    bytes.insert(bytes.end(), kExampleFrame.begin(), kExampleFrame.end());
    Feed(bytes);
    ASSERT_EQ(out.frames.size(), 1u);
    ExpectExampleRecord(out.frames[0]);
}

TEST_F(ReceiverTest, ThirdMarkIsTheFirstHeaderByte) {
    // 7E 7E 7E: checksum low byte 0x7E; the rest of a header with length 0 follows.
    Feed({0x7E, 0x7E, 0x7E, 0x00, 0x00, 0x00, 0x7E, 0x00, 0x00, 0x00});
    ASSERT_EQ(out.frames.size(), 1u);
    EXPECT_EQ(out.frames[0].receivedChecksum, 0x7E);
    EXPECT_EQ(out.frames[0].command, 0x7E);
    EXPECT_EQ(out.frames[0].computedChecksum, 0x7E);
}

TEST_F(ReceiverTest, EmptyPayloadIsPostedAtTheEighthHeaderByte) {
    const std::vector<uint8_t> frame = EncodeFrame(2, 300, nullptr, 0);
    Feed({frame.begin(), frame.end() - 1});
    EXPECT_TRUE(out.frames.empty());
    Feed({frame.back()});
    ASSERT_EQ(out.frames.size(), 1u);
    EXPECT_EQ(out.frames[0].payloadCount, 0);
    EXPECT_EQ(out.frames[0].computedChecksum, 0 + 0 + 2 + 0 + 44 + 1);
    EXPECT_EQ(out.frames[0].receivedChecksum, out.frames[0].computedChecksum);
}

TEST_F(ReceiverTest, ChecksumOffByOneIsPostedWithBothSums) {
    std::vector<uint8_t> bytes = kExampleFrame;
    bytes[2] = 0x49;
    Feed(bytes);
    ASSERT_EQ(out.frames.size(), 1u);
    EXPECT_EQ(out.frames[0].receivedChecksum, 73);
    EXPECT_EQ(out.frames[0].computedChecksum, 72);
}

TEST_F(ReceiverTest, FullPayloadAndOversizeHeader) {
    std::vector<uint8_t> payload(kMaxPayload, 0x7E);
    Feed(EncodeFrame(17, 9, payload.data(), static_cast<uint16_t>(payload.size())));
    ASSERT_EQ(out.frames.size(), 1u);
    EXPECT_EQ(out.frames[0].payloadCount, static_cast<int>(kMaxPayload));
    EXPECT_EQ(out.frames[0].payload[kMaxPayload], 0);

    // 513 announced: the frame is dropped, its payload bytes are hunted through, and the
    // link keeps "receiving" so the byte timeout still resends the pending packet.
    out.frames.clear();
    std::vector<uint8_t> bytes = {0x7E, 0x7E, 0x00, 0x00, 0x01, 0x02, 0x11, 0x00, 0x01, 0x00};
    bytes.insert(bytes.end(), 513, 0x55);
    Feed(bytes);
    EXPECT_TRUE(out.frames.empty());
    EXPECT_EQ(linkState.load(), LinkState::Receiving);
    EXPECT_EQ(receiver.ReceiveStateNow(), ReceiveState::Hunting);
    Feed(kExampleFrame);
    ASSERT_EQ(out.frames.size(), 1u);
    ExpectExampleRecord(out.frames[0]);
}

TEST_F(ReceiverTest, ResetDropsThePartialFrameAndTheNextFrameArrivesWhole) {
    Feed({kExampleFrame.begin(), kExampleFrame.begin() + 6}, 5000);
    EXPECT_EQ(receiver.LastByteTick(), 5000u);
    receiver.ResetAssembly();
    Feed({kExampleFrame.begin() + 6, kExampleFrame.end()});
    EXPECT_TRUE(out.frames.empty());
    Feed(kExampleFrame);
    ASSERT_EQ(out.frames.size(), 1u);
    ExpectExampleRecord(out.frames[0]);
}

TEST_F(ReceiverTest, LinkStateIsSetOncePerCallNotPerByte) {
    // A complete frame followed by the start of another leaves the call at idle.
    std::vector<uint8_t> bytes = kExampleFrame;
    bytes.insert(bytes.end(), {0x7E, 0x7E, 0x01});
    Feed(bytes);
    EXPECT_EQ(linkState.load(), LinkState::Idle);
    EXPECT_EQ(receiver.ReceiveStateNow(), ReceiveState::Header);
}

// Resets from another thread at arbitrary moments: frames may be lost, but whatever is
// posted is whole and within the record (ASan watches the payload writes).
TEST(ReceiverConcurrency, ResetsFromAnotherThreadNeverOverrunTheRecord) {
    std::atomic<LinkState> linkState{LinkState::Idle};
    PacketReceiver receiver(linkState);
    std::vector<uint8_t> stream;
    std::vector<uint8_t> big(kMaxPayload, 0x7E);
    for (int i = 0; i < 200; ++i) {
        const auto frame =
            EncodeFrame(17, static_cast<uint16_t>(i), big.data(), static_cast<uint16_t>(i % 2 ? kMaxPayload : 1));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    std::atomic<bool> done{false};
    std::thread timer([&] {
        while (!done.load()) receiver.ResetAssembly();
    });
    struct Check {
        int frames = 0;
        bool bad = false;
        static void Sink(const PacketRecord& f, void* c) {
            auto* self = static_cast<Check*>(c);
            ++self->frames;
            if (f.payloadCount != f.length || f.payloadCount > static_cast<int>(kMaxPayload)) self->bad = true;
        }
    } check;
    for (int round = 0; round < 20; ++round) {
        for (size_t at = 0; at < stream.size(); at += 7) {
            const size_t n = std::min<size_t>(7, stream.size() - at);
            receiver.Receive(stream.data() + at, n, 0, Check::Sink, &check);
        }
    }
    done.store(true);
    timer.join();
    EXPECT_FALSE(check.bad);
}

}  // namespace
