// Bitmap text to bytes: a three-state scan (before "x", high digit, low digit) that forgets a
// half pair at every line break, and only there.
#include "transfer/BitmapText.h"

#include <cstring>

namespace transfer {

namespace {

constexpr int kHexBase = 16;
constexpr int kFirstLetterValue = 10;  // of a and A

int HexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + kFirstLetterValue;
    return c - 'A' + kFirstLetterValue;
}

}  // namespace

bool IsHexDigit(int c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

void BitmapPairScanner::Scan(const char* text, size_t length, std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i < length; ++i) {
        const int c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            state_ = State::AwaitX;
            continue;
        }
        switch (state_) {
            case State::AwaitX:
                if (c == 'x') state_ = State::AwaitHigh;
                break;
            case State::AwaitHigh:
                if (IsHexDigit(c)) {
                    high_ = HexValue(c);
                    state_ = State::AwaitLow;
                }
                break;
            case State::AwaitLow:
                if (IsHexDigit(c)) {
                    bytes.push_back(static_cast<uint8_t>(high_ * kHexBase + HexValue(c)));
                    state_ = State::AwaitX;
                }
                break;
        }
    }
}

std::vector<uint8_t> DecodeBitmapLine(const char* text, size_t length) {
    std::vector<uint8_t> bytes;
    BitmapPairScanner().Scan(text, length, bytes);
    return bytes;
}

BitmapConversion ConvertBitmapText(FILE* text, std::vector<uint8_t>& image, size_t limit) {
    BitmapPairScanner scanner;  // one per file: a read that ends inside a line carries on
    char line[kBitmapLineBuffer];
    while (std::fgets(line, sizeof line, text) != nullptr) {
        scanner.Scan(line, std::strlen(line), image);
        if (image.size() > limit) return BitmapConversion::TooLarge;
    }
    return std::ferror(text) ? BitmapConversion::ReadFailed : BitmapConversion::Done;
}

}  // namespace transfer
