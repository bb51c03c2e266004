// The link's wait state and the names of the resend causes, shared by sender and receiver.
#include "link/LinkState.h"

const char* ResendCauseName(int cause) {
    switch (cause) {
        case REMOTE_CHECKSUM: return "REMOTE_CHECKSUM";
        case LOCAL_CHECKSUM: return "LOCAL_CHECKSUM";
        case REMOTE_TIMEOUT: return "REMOTE_TIMEOUT";
        case LOCAL_TIMEOUT: return "LOCAL_TIMEOUT";
        default: return "Unknown";
    }
}

void ResumeReplyWait(std::atomic<int>& linkState, bool sentInReply, bool sessionActive) {
    if (sentInReply || !sessionActive) return;
    int idle = LINK_IDLE;
    linkState.compare_exchange_strong(idle, LINK_AWAITING_REPLY);
}
