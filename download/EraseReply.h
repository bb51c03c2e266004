// Recognises the unit's answer to the erase request: the bytes 0x07 0x06 as an aligned pair,
// counting pairs from the moment the wait began, whatever size the received chunks have.
#pragma once
#include <cstddef>
#include <cstdint>

namespace download {

// The request and its answer are the same two bytes.
inline constexpr uint8_t kEraseReplyFirst = 0x07;
inline constexpr uint8_t kEraseReplySecond = 0x06;
inline constexpr uint8_t kEraseRequest[] = {kEraseReplyFirst, kEraseReplySecond};

class EraseReplyMatcher {
public:
    // Starts counting pairs afresh.
    void Reset() {
        holding_ = false;
        matched_ = false;
    }
    // Takes the next received bytes; true once the reply pair has been seen.
    bool Feed(const uint8_t* bytes, size_t count);
    bool Matched() const { return matched_; }

private:
    bool holding_ = false;  // the first byte of a pair has arrived, the second not yet
    uint8_t held_ = 0;
    bool matched_ = false;
};

}  // namespace download
