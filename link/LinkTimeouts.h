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

// The log line of each overdue kind ("WM_TIMER1 ..." and "WM_TIMER2 ..."); empty for None.
const char* TimeoutLine(TimeoutAction action);
