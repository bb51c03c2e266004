// The packet link's wait state, which its owner keeps in a std::atomic<LinkState> shared by
// the UI thread (sender, timeouts) and the comm-event thread (receiver), and the resend causes.
#pragma once
#include <atomic>

namespace packetlink {

enum class LinkState : int { Idle = 0, AwaitingReply = 4, Receiving = 5 };

// The cause given to a resend, numbered 1 to 4 in this order; none (0) before the first.
enum class ResendCause : int { None, REMOTE_CHECKSUM, LOCAL_CHECKSUM, REMOTE_TIMEOUT, LOCAL_TIMEOUT };
static_assert(static_cast<int>(ResendCause::LOCAL_TIMEOUT) == 4, "the causes keep their numbers");

// "REMOTE_CHECKSUM" ... "LOCAL_TIMEOUT", or "Unknown" for any other value.
const char* ResendCauseName(ResendCause cause);

// After a received frame was handled. Any complete frame leaves the link idle; a frame that
// drew no packet in reply (a log line, an ignored or unknown packet) must not end the wait of
// the packet still unanswered, or a lost reply would never be resent. So, while a session
// runs and nothing was sent, the link awaits that reply again, timed from its last send.
// Bytes already arriving for the next frame keep the link "receiving".
void ResumeReplyWait(std::atomic<LinkState>& linkState, bool sentInReply, bool sessionActive);

}  // namespace packetlink
