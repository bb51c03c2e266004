// Pairs are taken two by two from the start of the wait; any other pair is thrown away, so
// a stray byte before the reply shifts it out of alignment and it is not taken.
#include "download/EraseReply.h"

namespace download {

bool EraseReplyMatcher::Feed(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count && !matched_; ++i) {
        if (!holding_) {
            held_ = bytes[i];
            holding_ = true;
            continue;
        }
        holding_ = false;
        if (held_ == kEraseReplyFirst && bytes[i] == kEraseReplySecond) matched_ = true;
    }
    return matched_;
}

}  // namespace download
