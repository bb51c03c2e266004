// Bitmaps come as text files that list bytes as lowercase-x hexadecimal pairs (0x1F, 0xA0);
// this turns such text into the binary image, in memory, that is sent to the unit.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace transfer {

// Line buffer of one read: one line, or at most 1022 characters of a longer line.
inline constexpr size_t kBitmapLineBuffer = 1023;

// True for 0-9, a-f and A-F; false for every other value, including those above 127.
bool IsHexDigit(int c);

// The pair scan: "x" opens a pair, the next two hexadecimal digits (other characters between
// them skipped) give one byte. Its state carries from one piece of a line to the next, so a
// line longer than one read still decodes whole; only a line break starts afresh, so a pair
// that a line break splits gives nothing.
class BitmapPairScanner {
public:
    // Appends the bytes that text completes; a newline character resets the scan.
    void Scan(const char* text, size_t length, std::vector<uint8_t>& bytes);

private:
    enum class State { AwaitX, AwaitHigh, AwaitLow };
    State state_ = State::AwaitX;
    int high_ = 0;
};

// Decodes one whole line's characters, starting afresh.
std::vector<uint8_t> DecodeBitmapLine(const char* text, size_t length);

// The largest image a bitmap text may give; a display's bitmap is a small fraction of it, and
// a text file that would give more is refused rather than held in memory.
inline constexpr size_t kMaxBitmapImageBytes = size_t{64} << 20;

enum class BitmapConversion {
    Done,
    ReadFailed,  // a read error, never taken for the end of the bitmap
    TooLarge,    // the image would pass its limit
};

// Reads text (opened for reading in text mode) line by line and appends the decoded bytes to
// image, up to limit bytes.
BitmapConversion ConvertBitmapText(FILE* text, std::vector<uint8_t>& image, size_t limit = kMaxBitmapImageBytes);

}  // namespace transfer
