// The packet link's wait state, which its owner keeps in a std::atomic<int> shared by the
// UI thread (sender, timeouts) and the comm-event thread (receiver), and the resend causes.
#pragma once
#include <atomic>

enum LinkStateValue : int {
    LINK_IDLE = 0,
    LINK_AWAITING_REPLY = 4,
    LINK_RECEIVING = 5,
};

enum ResendCause : int {
    REMOTE_CHECKSUM = 1,
    LOCAL_CHECKSUM = 2,
    REMOTE_TIMEOUT = 3,
    LOCAL_TIMEOUT = 4,
};

// "REMOTE_CHECKSUM" ... "LOCAL_TIMEOUT", or "Unknown" for any other value.
const char* ResendCauseName(int cause);

// After a received frame was handled. Any complete frame leaves the link idle; a frame that
// drew no packet in reply (a log line, an ignored or unknown packet) must not end the wait of
// the packet still unanswered, or a lost reply would never be resent. So, while a session
// runs and nothing was sent, the link awaits that reply again, timed from its last send.
// Bytes already arriving for the next frame keep the link "receiving".
void ResumeReplyWait(std::atomic<int>& linkState, bool sentInReply, bool sessionActive);
