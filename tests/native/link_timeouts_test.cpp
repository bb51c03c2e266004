// The timer step's decision with a fake clock: strictly more than 500 ms for a reply,
// more than 100 ms for the rest of a frame, right across the tick count's wrap.
#include <gtest/gtest.h>

#include "link/LinkState.h"
#include "link/LinkTimeouts.h"

namespace {

struct Case {
    int linkState;
    uint32_t now;
    uint32_t lastSend;
    uint32_t lastByte;
    TimeoutAction expected;
};

TEST(LinkTimeouts, Decisions) {
    constexpr uint32_t kNearWrap = 0xFFFFFF00u;
    const Case cases[] = {
        {LINK_AWAITING_REPLY, 10500, 10000, 0, TimeoutAction::None},
        {LINK_AWAITING_REPLY, 10501, 10000, 0, TimeoutAction::ReplyOverdue},
        {LINK_RECEIVING, 10100, 0, 10000, TimeoutAction::None},
        {LINK_RECEIVING, 10101, 0, 10000, TimeoutAction::FrameOverdue},
        // Each timeout belongs to its own state.
        {LINK_RECEIVING, 10600, 10000, 10550, TimeoutAction::None},
        {LINK_AWAITING_REPLY, 10200, 10000, 0, TimeoutAction::None},
        {LINK_IDLE, 99999, 0, 0, TimeoutAction::None},
        // Across the wrap of the 32-bit tick count.
        {LINK_AWAITING_REPLY, kNearWrap + 500, kNearWrap, 0, TimeoutAction::None},
        {LINK_AWAITING_REPLY, kNearWrap + 501, kNearWrap, 0, TimeoutAction::ReplyOverdue},
        {LINK_RECEIVING, kNearWrap + 100, 0, kNearWrap, TimeoutAction::None},
        {LINK_RECEIVING, kNearWrap + 101, 0, kNearWrap, TimeoutAction::FrameOverdue},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecideLinkTimeout(c.linkState, c.now, c.lastSend, c.lastByte), c.expected)
            << "state " << c.linkState << " now " << c.now;
    }
}

TEST(LinkTimeouts, LogLines) {
    EXPECT_STREQ(TimeoutLine(TimeoutAction::ReplyOverdue), "WM_TIMER1 calling RS232_ResendPacket");
    EXPECT_STREQ(TimeoutLine(TimeoutAction::FrameOverdue), "WM_TIMER2 calling RS232_ResendPacket");
}

}  // namespace
