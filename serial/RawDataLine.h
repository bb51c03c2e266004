// The "RAW_DATA: " line that shows one received chunk byte by byte: printable bytes as
// themselves, every other byte as [n] of its value read as a signed 8-bit number.
#pragma once
#include <cstddef>
#include <cstdint>

namespace serial {

inline constexpr size_t kMaxChunkBytes = 511;       // one drain read at most
inline constexpr size_t kRawDataPrefixLength = 10;  // "RAW_DATA: "
inline constexpr size_t kRawDataBytesPerByte = 6;   // the widest form, "[-128]"
inline constexpr size_t kRawDataLineCapacity =
    kRawDataPrefixLength + kRawDataBytesPerByte * kMaxChunkBytes + 1;  // 3 077 with the zero

// Writes the line for count bytes (at most kMaxChunkBytes are shown) into line, which holds
// capacity characters, always zero-terminated; returns its length.
size_t FormatRawDataLine(const uint8_t* bytes, size_t count, char* line, size_t capacity);

}  // namespace serial
