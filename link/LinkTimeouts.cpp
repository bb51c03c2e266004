// The timer step's decision, kept apart from the clock so tests can drive it.
#include "link/LinkTimeouts.h"

#include "link/LinkState.h"

TimeoutAction DecideLinkTimeout(int linkState, uint32_t now, uint32_t lastSendTick,
                                uint32_t lastByteTick) {
    if (linkState == LINK_AWAITING_REPLY && static_cast<uint32_t>(now - lastSendTick) > kReplyTimeoutMs) {
        return TimeoutAction::ReplyOverdue;
    }
    if (linkState == LINK_RECEIVING && static_cast<uint32_t>(now - lastByteTick) > kInterByteTimeoutMs) {
        return TimeoutAction::FrameOverdue;
    }
    return TimeoutAction::None;
}

TimeoutAction ReadLinkTimeout(LinkTimeoutInputs& inputs) {
    // Each read is its own statement: the order matters, and arguments have none.
    const int linkState = inputs.LinkStateNow();
    const uint32_t lastByteTick = inputs.LastByteTick();
    const uint32_t lastSendTick = inputs.LastSendTick();
    const uint32_t now = inputs.NowTick();
    return DecideLinkTimeout(linkState, now, lastSendTick, lastByteTick);
}

const char* TimeoutLine(TimeoutAction action) {
    switch (action) {
        case TimeoutAction::ReplyOverdue: return "WM_TIMER1 calling RS232_ResendPacket";
        case TimeoutAction::FrameOverdue: return "WM_TIMER2 calling RS232_ResendPacket";
        default: return "";
    }
}
