// Block chunking and progress arithmetic of the raw image stream.
#include "download/ImageCursor.h"

#include <algorithm>

#include "common/Clock.h"

namespace download {

namespace {
constexpr uint32_t kBitsPerLineByte = 11;  // start, 8 data, parity, stop
using common::kMsPerSecond;
constexpr uint32_t kStallAllowanceMs = 5000;  // beyond one block's line time
}  // namespace

ImageCursor::ImageCursor(const uint8_t* data, uint32_t size)
    : next_(data), remaining_(size), blockSize_(std::min(kBlockSize, size)), total_(size) {}

void ImageCursor::Advance(uint32_t written) {
    written = std::min(written, blockSize_);
    next_ += written;
    bytesSent_ += written;
    remaining_ -= written;
    if (blockSize_ > remaining_) blockSize_ = remaining_;
}

uint32_t ProgressMaximum(uint64_t totalBytes) {
    return static_cast<uint32_t>(totalBytes / kProgressUnitBytes) & kProgress16BitMask;
}

uint32_t ProgressPosition(uint64_t bytesSent) { return static_cast<uint32_t>(bytesSent / kProgressUnitBytes); }

uint32_t BlockLineTimeMs(uint32_t baudRate) {
    if (baudRate == 0) return 0;
    uint64_t bits = uint64_t{kBlockSize} * kBitsPerLineByte;
    return static_cast<uint32_t>((bits * kMsPerSecond + baudRate - 1) / baudRate);
}

uint32_t WriteStallLimitMs(uint32_t baudRate) { return kStallAllowanceMs + BlockLineTimeMs(baudRate); }

}  // namespace download
