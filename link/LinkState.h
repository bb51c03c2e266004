// The packet link's wait state, shared by the UI thread (sender, timeouts) and the
// comm-event thread (receiver).
#pragma once
#include <atomic>

enum LinkStateValue : int {
    LINK_IDLE = 0,
    LINK_AWAITING_REPLY = 4,
    LINK_RECEIVING = 5,
};

extern std::atomic<int> LinkState;

enum ResendCause : int {
    REMOTE_CHECKSUM = 1,
    LOCAL_CHECKSUM = 2,
    REMOTE_TIMEOUT = 3,
    LOCAL_TIMEOUT = 4,
};

// "REMOTE_CHECKSUM" ... "LOCAL_TIMEOUT", or "Unknown" for any other value.
const char* ResendCauseName(int cause);
