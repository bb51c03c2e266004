// The link's wait state and the names of the resend causes, shared by sender and receiver.
#include "link/LinkState.h"

namespace packetlink {

const char* ResendCauseName(ResendCause cause) {
    switch (cause) {
        case ResendCause::REMOTE_CHECKSUM: return "REMOTE_CHECKSUM";
        case ResendCause::LOCAL_CHECKSUM: return "LOCAL_CHECKSUM";
        case ResendCause::REMOTE_TIMEOUT: return "REMOTE_TIMEOUT";
        case ResendCause::LOCAL_TIMEOUT: return "LOCAL_TIMEOUT";
        default: return "Unknown";
    }
}

void ResumeReplyWait(std::atomic<LinkState>& linkState, bool sentInReply, bool sessionActive) {
    if (sentInReply || !sessionActive) return;
    LinkState idle = LinkState::Idle;
    linkState.compare_exchange_strong(idle, LinkState::AwaitingReply);
}

}  // namespace packetlink
