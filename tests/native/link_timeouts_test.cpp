// The timer step's decision with a fake clock: strictly more than 500 ms for a reply, whatever
// bytes arrive meanwhile, more than 100 ms for the rest of a frame, right across the tick
// count's wrap; a frame under way gets a bounded grace; and a reply that starts arriving while
// the step reads the link never looks overdue.
#include <gtest/gtest.h>

#include <atomic>

#include "link/Frame.h"
#include "link/LinkState.h"
#include "link/LinkTimeouts.h"
#include "link/PacketReceiver.h"

using namespace packetlink;

namespace {

struct Case {
    LinkState linkState;
    uint32_t now;
    uint32_t lastSend;
    uint32_t lastByte;
    TimeoutAction expected;
    bool frameUnderway = false;
};

TEST(LinkTimeouts, Decisions) {
    constexpr uint32_t kNearWrap = 0xFFFFFF00u;
    const Case cases[] = {
        {LinkState::AwaitingReply, 10500, 10000, 0, TimeoutAction::None},
        {LinkState::AwaitingReply, 10501, 10000, 0, TimeoutAction::ReplyOverdue},
        {LinkState::Receiving, 10100, 9990, 10000, TimeoutAction::None},
        {LinkState::Receiving, 10101, 9990, 10000, TimeoutAction::FrameOverdue},
        // Bytes that arrive keep coming but form no frame: the reply is overdue all the same.
        {LinkState::Receiving, 10501, 10000, 10480, TimeoutAction::ReplyOverdue},
        {LinkState::Receiving, 10500, 10000, 10480, TimeoutAction::None},
        // A frame under way may finish within the grace, not past it.
        {LinkState::Receiving, 10700, 10000, 10650, TimeoutAction::None, true},
        {LinkState::Receiving, 10701, 10000, 10650, TimeoutAction::ReplyOverdue, true},
        {LinkState::Receiving, 10751, 10000, 10650, TimeoutAction::FrameOverdue, true},
        {LinkState::AwaitingReply, 10600, 10000, 10550, TimeoutAction::ReplyOverdue, true},
        {LinkState::AwaitingReply, 10200, 10000, 0, TimeoutAction::None},
        {LinkState::Idle, 99999, 0, 0, TimeoutAction::None},
        // Across the wrap of the 32-bit tick count.
        {LinkState::AwaitingReply, kNearWrap + 500, kNearWrap, 0, TimeoutAction::None},
        {LinkState::AwaitingReply, kNearWrap + 501, kNearWrap, 0, TimeoutAction::ReplyOverdue},
        {LinkState::Receiving, kNearWrap + 100, kNearWrap - 10, kNearWrap, TimeoutAction::None},
        {LinkState::Receiving, kNearWrap + 101, kNearWrap - 10, kNearWrap, TimeoutAction::FrameOverdue},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecideLinkTimeout(c.linkState, c.now, c.lastSend, c.lastByte, c.frameUnderway), c.expected)
            << "state " << static_cast<int>(c.linkState) << " now " << c.now;
    }
}

// The link as the comm-event thread may change it while the timer step reads it: a packet sent
// 50 ms ago awaits its reply, the last frame ended long before, and the reply's first byte
// arrives (through the real receiver, at a clock that has just moved on) right before the
// check's read number arrivalAt.
class InterleavedInputs final : public LinkTimeoutInputs {
public:
    explicit InterleavedInputs(int arrivalAt) : arrivalAt_(arrivalAt) {
        receiver_.Receive(&kFrameMark, 1, kOldFrameTick, nullptr, nullptr);
        receiver_.ResetAssembly();
        linkState_.store(LinkState::AwaitingReply);
    }
    LinkState LinkStateNow() override { return ArriveIfDue(), linkState_.load(); }
    uint32_t LastByteTick() override { return ArriveIfDue(), receiver_.LastByteTick(); }
    bool FrameUnderway() override { return ArriveIfDue(), receiver_.FrameUnderway(); }
    uint32_t LastSendTick() override { return ArriveIfDue(), kSendTick; }
    uint32_t NowTick() override { return ArriveIfDue(), clock_; }

private:
    static constexpr uint32_t kOldFrameTick = 1000;
    static constexpr uint32_t kSendTick = 10000;
    void ArriveIfDue() {
        if (reads_++ != arrivalAt_) return;
        ++clock_;
        receiver_.Receive(&kFrameMark, 1, clock_, nullptr, nullptr);
    }
    int arrivalAt_;
    int reads_ = 0;
    uint32_t clock_ = kSendTick + 50;
    std::atomic<LinkState> linkState_{LinkState::Idle};
    PacketReceiver receiver_{linkState_};
};

TEST(LinkTimeouts, AReplyStartingDuringTheCheckIsNeverOverdue) {
    for (int arrivalAt = 0; arrivalAt <= 5; ++arrivalAt) {
        InterleavedInputs inputs(arrivalAt);
        EXPECT_EQ(ReadLinkTimeout(inputs), TimeoutAction::None) << "reply arriving before read " << arrivalAt;
    }
}

TEST(LinkTimeouts, LogLines) {
    EXPECT_STREQ(TimeoutLine(TimeoutAction::ReplyOverdue), "WM_TIMER1 calling RS232_ResendPacket");
    EXPECT_STREQ(TimeoutLine(TimeoutAction::FrameOverdue), "WM_TIMER2 calling RS232_ResendPacket");
}

}  // namespace
