// When the timer step resends: a reply overdue after a send, or the rest of a frame overdue
// after its last byte. Pure decision on ticks passed in; differences are unsigned 32-bit, so
// the decision stays right when the tick count wraps.
#pragma once
#include <cstdint>

inline constexpr uint32_t kReplyTimeoutMs = 500;      // resend when more than this has passed
inline constexpr uint32_t kInterByteTimeoutMs = 100;  // drop a frame silent for more than this

enum class TimeoutAction { None, ReplyOverdue, FrameOverdue };

TimeoutAction DecideLinkTimeout(int linkState, uint32_t now, uint32_t lastSendTick,
                                uint32_t lastByteTick);

// What the timer step reads while the comm-event thread may be storing bytes' arrival.
class LinkTimeoutInputs {
public:
    virtual ~LinkTimeoutInputs() = default;
    virtual int LinkStateNow() = 0;
    virtual uint32_t LastByteTick() = 0;
    virtual uint32_t LastSendTick() = 0;
    virtual uint32_t NowTick() = 0;
};

// The timer step's decision on what it reads, in this order: the state, the last-byte tick,
// the last-send tick, then now. The receiver stores the tick before it marks the link
// "receiving", so a "receiving" seen here always comes with the tick of those bytes, and now
// is never older than that tick: a reply that starts arriving during the check is not taken
// for a frame gone silent.
TimeoutAction ReadLinkTimeout(LinkTimeoutInputs& inputs);

// The log line of each overdue kind ("WM_TIMER1 ..." and "WM_TIMER2 ..."); empty for None.
const char* TimeoutLine(TimeoutAction action);
