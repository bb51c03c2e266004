// The timer step's decision, kept apart from the clock so tests can drive it.
#include "link/LinkTimeouts.h"

namespace packetlink {

TimeoutAction DecideLinkTimeout(LinkState linkState, uint32_t now, uint32_t lastSendTick, uint32_t lastByteTick,
                                bool frameUnderway) {
    const uint32_t sinceSend = now - lastSendTick;
    const uint32_t sinceByte = now - lastByteTick;
    const bool receiving = linkState == LinkState::Receiving;
    if (receiving && sinceByte > kInterByteTimeoutMs) return TimeoutAction::FrameOverdue;
    if (linkState != LinkState::AwaitingReply && !receiving) return TimeoutAction::None;
    if (sinceSend <= kReplyTimeoutMs) return TimeoutAction::None;
    // Bytes still coming here are recent (a silent frame was caught above).
    const bool frameFinishing = receiving && frameUnderway && sinceSend <= kReplyTimeoutMs + kFrameInFlightGraceMs;
    return frameFinishing ? TimeoutAction::None : TimeoutAction::ReplyOverdue;
}

TimeoutAction ReadLinkTimeout(LinkTimeoutInputs& inputs) {
    // Each read is its own statement: the order matters, and arguments have none.
    const LinkState linkState = inputs.LinkStateNow();
    const uint32_t lastByteTick = inputs.LastByteTick();
    const bool frameUnderway = inputs.FrameUnderway();
    const uint32_t lastSendTick = inputs.LastSendTick();
    const uint32_t now = inputs.NowTick();
    return DecideLinkTimeout(linkState, now, lastSendTick, lastByteTick, frameUnderway);
}

const char* TimeoutLine(TimeoutAction action) {
    switch (action) {
        case TimeoutAction::ReplyOverdue: return "WM_TIMER1 calling RS232_ResendPacket";
        case TimeoutAction::FrameOverdue: return "WM_TIMER2 calling RS232_ResendPacket";
        default: return "";
    }
}

}  // namespace packetlink
