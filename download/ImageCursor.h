// The bookkeeping of one raw image stream: which block to write next, how far the
// progress bar stands, and when a port that takes no bytes has been tried long enough.
// Portable: the download engine feeds it write counts and tick readings.
#pragma once

#include <cstdint>

namespace download {

inline constexpr uint32_t kBlockSize = 16384;           // bytes offered to one write
inline constexpr uint32_t kProgressUnitBytes = 1000;    // the bar counts thousands of bytes
inline constexpr uint32_t kProgress16BitMask = 0xFFFF;  // PBM_SETRANGE keeps a 16-bit maximum

// Walks an image from its first byte to its last in blocks of kBlockSize. A short write
// keeps the block size and offers the rest again from the advanced cursor, so only the
// final block is ever shorter than kBlockSize.
class ImageCursor {
public:
    ImageCursor() = default;
    ImageCursor(const uint8_t* data, uint32_t size);

    // Bytes to offer to the next write; 0 once the whole image has gone.
    uint32_t BlockSize() const { return blockSize_; }
    const uint8_t* Next() const { return next_; }
    uint32_t Remaining() const { return remaining_; }
    uint64_t BytesSent() const { return bytesSent_; }
    uint64_t Total() const { return total_; }
    bool Done() const { return blockSize_ == 0; }

    // Takes the count one write reported. A count above the block offered is held to the
    // block, so a confused driver can never push the cursor past the image.
    void Advance(uint32_t written);

private:
    const uint8_t* next_ = nullptr;
    uint32_t remaining_ = 0;
    uint32_t blockSize_ = 0;
    uint64_t total_ = 0;
    uint64_t bytesSent_ = 0;
};

// The bar's upper bound for an image: thousands of bytes, cut to the 16 bits that
// PBM_SETRANGE carries.
uint32_t ProgressMaximum(uint64_t totalBytes);
// The bar's position after bytesSent bytes.
uint32_t ProgressPosition(uint64_t bytesSent);

// Time to push one full block through the line at baudRate: eleven bits per byte (start,
// eight data, odd parity, stop).
uint32_t BlockLineTimeMs(uint32_t baudRate);
// How long the worker keeps offering a block that the port will not take before it gives
// the download up: a fixed allowance plus the time one full block needs on the line, so a
// healthy slow port is never cut off in the middle of a block.
uint32_t WriteStallLimitMs(uint32_t baudRate);

// Watches for a port that keeps taking no bytes. Ticks are millisecond counters that may
// wrap; differences are taken in unsigned 32-bit arithmetic.
class WriteStallGuard {
public:
    WriteStallGuard(uint32_t limitMs, uint32_t nowMs) : limitMs_(limitMs), lastProgressMs_(nowMs) {}

    void Record(uint32_t written, uint32_t nowMs) {
        if (written > 0) lastProgressMs_ = nowMs;
    }

    enum class Step { Continue, PauseAndRetry, GiveUp };
    // What the worker does after one write. A write that moved bytes goes on at once; one
    // that moved none is offered again after a pause until the bound has run out. A write
    // cancelled at the bound ends the download: the bytes it reports left at some unknown
    // earlier time, so they are counted but do not start the bound again.
    Step AfterWrite(uint32_t written, bool cancelledAtBound, uint32_t nowMs) {
        if (cancelledAtBound) return Step::GiveUp;
        Record(written, nowMs);
        if (written > 0) return Step::Continue;
        return Expired(nowMs) ? Step::GiveUp : Step::PauseAndRetry;
    }
    bool Expired(uint32_t nowMs) const { return nowMs - lastProgressMs_ >= limitMs_; }
    // Milliseconds still allowed before Expired turns true (0 when it already has).
    uint32_t MsLeft(uint32_t nowMs) const {
        uint32_t elapsed = nowMs - lastProgressMs_;
        return elapsed >= limitMs_ ? 0 : limitMs_ - elapsed;
    }

private:
    uint32_t limitMs_;
    uint32_t lastProgressMs_;
};

}  // namespace download
