// Numbers the unit sends as decimal text (sums, counts, sizes): leading blanks and one sign
// allowed, reading stops at the first character that is not a digit, no digits give 0.
#pragma once
#include <cstddef>
#include <cstdint>

namespace transfer {

// Reads at most length bytes of text (stopping early at a zero byte). Digits beyond the
// range of 32 bits wrap modulo 2^32 instead of overflowing, so the low 16 bits that the
// checksum comparisons use are those of the number written.
int32_t ParseDecimalText(const uint8_t* text, size_t length);
// The same for a zero-terminated text.
int32_t ParseDecimalText(const char* text);

}  // namespace transfer
