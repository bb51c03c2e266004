// Bitmaps come as text files that list bytes as lowercase-x hexadecimal pairs (0x1F, 0xA0);
// this turns such text into the binary image that is sent to the unit.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

// Line buffer of one read: one line, or at most 1022 characters of a longer line.
inline constexpr size_t kBitmapLineBuffer = 1023;

// True for 0-9, a-f and A-F; false for every other value, including those above 127.
bool IsHexDigit(int c);

// Decodes one read's characters: "x" opens a pair, the next two hexadecimal digits (other
// characters between them skipped) give one byte. The state starts afresh for every read,
// so a pair that a line break splits gives nothing.
std::vector<uint8_t> DecodeBitmapLine(const char* text, size_t length);

struct BitmapConversion {
    bool ok;            // false when reading the text or writing the image failed
    long bytesWritten;  // bytes of image written
};

// Reads text (opened for reading in text mode) line by line and writes the decoded bytes to
// binary. A read or write error is reported, never taken for the end of the bitmap.
BitmapConversion ConvertBitmapText(FILE* text, FILE* binary);
