// When the timer step resends: a reply overdue after a send, or the rest of a frame overdue
// after its last byte. Pure decision on ticks passed in; differences are unsigned 32-bit, so
// the decision stays right when the tick count wraps.
#pragma once
#include <cstdint>

#include "link/LinkState.h"

namespace packetlink {

inline constexpr uint32_t kReplyTimeoutMs = 500;      // resend when more than this has passed
inline constexpr uint32_t kInterByteTimeoutMs = 100;  // drop a frame silent for more than this
// A frame already coming in when its reply falls due may take this much longer to finish: the
// longest frame takes about 150 ms at 38 400 baud. Past it the packet is resent all the same.
inline constexpr uint32_t kFrameInFlightGraceMs = 200;

enum class TimeoutAction { None, ReplyOverdue, FrameOverdue };

// The reply is timed from the send whatever arrives meanwhile: bytes that never complete a
// frame (noise, a unit at another speed) must not hold off the resend and the give-up. Only a
// frame whose marks have been seen and whose bytes keep coming is let finish, for a bounded
// time. frameUnderway: the receiver is inside a frame (after its two marks).
TimeoutAction DecideLinkTimeout(LinkState linkState, uint32_t now, uint32_t lastSendTick, uint32_t lastByteTick,
                                bool frameUnderway);

// What the timer step reads while the comm-event thread may be storing bytes' arrival.
class LinkTimeoutInputs {
public:
    virtual ~LinkTimeoutInputs() = default;
    virtual LinkState LinkStateNow() = 0;
    virtual uint32_t LastByteTick() = 0;
    virtual bool FrameUnderway() = 0;
    virtual uint32_t LastSendTick() = 0;
    virtual uint32_t NowTick() = 0;
};

// The timer step's decision on what it reads, in this order: the state, the last-byte tick,
// whether a frame is underway, the last-send tick, then now. The receiver stores the tick
// before it marks the link "receiving", so a "receiving" seen here always comes with the tick
// of those bytes, and now is never older than that tick: a reply that starts arriving during
// the check is not taken for a frame gone silent.
TimeoutAction ReadLinkTimeout(LinkTimeoutInputs& inputs);

// The log line of each overdue kind ("WM_TIMER1 ..." and "WM_TIMER2 ..."); empty for None.
const char* TimeoutLine(TimeoutAction action);

}  // namespace packetlink
