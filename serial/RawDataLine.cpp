// Raw-data line formatting, bounded by the caller's buffer whatever the chunk holds.
#include "serial/RawDataLine.h"

#include <cstdio>
#include <cstring>

namespace serial {

namespace {
constexpr uint8_t kFirstPrintable = 32;
constexpr uint8_t kLastPrintable = 126;
constexpr char kPrefix[] = "RAW_DATA: ";
static_assert(sizeof kPrefix - 1 == kRawDataPrefixLength, "prefix length");
}  // namespace

size_t FormatRawDataLine(const uint8_t* bytes, size_t count, char* line, size_t capacity) {
    if (capacity == 0) return 0;
    if (count > kMaxChunkBytes) count = kMaxChunkBytes;
    size_t used = 0;
    auto append = [&](const char* text, size_t n) {
        if (used + n >= capacity) n = capacity - 1 - used;
        std::memcpy(line + used, text, n);
        used += n;
    };
    append(kPrefix, kRawDataPrefixLength);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        if (byte >= kFirstPrintable && byte <= kLastPrintable) {
            const char c = static_cast<char>(byte);
            append(&c, 1);
        } else {
            char item[kRawDataBytesPerByte + 1];
            const int n = std::snprintf(item, sizeof item, "[%d]", static_cast<int>(static_cast<int8_t>(byte)));
            append(item, static_cast<size_t>(n));
        }
    }
    line[used] = 0;
    return used;
}

}  // namespace serial
