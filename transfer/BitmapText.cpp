// Bitmap text to bytes: a three-state scan per read (before "x", high digit, low digit).
// The scan deliberately forgets a half pair at every read boundary.
#include "transfer/BitmapText.h"

#include <cstring>

namespace {

enum class PairState { AwaitX, AwaitHigh, AwaitLow };

int HexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

}  // namespace

bool IsHexDigit(int c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::vector<uint8_t> DecodeBitmapLine(const char* text, size_t length) {
    std::vector<uint8_t> bytes;
    PairState state = PairState::AwaitX;
    int high = 0;
    for (size_t i = 0; i < length; ++i) {
        const int c = static_cast<unsigned char>(text[i]);
        switch (state) {
            case PairState::AwaitX:
                if (c == 'x') state = PairState::AwaitHigh;
                break;
            case PairState::AwaitHigh:
                if (IsHexDigit(c)) {
                    high = HexValue(c);
                    state = PairState::AwaitLow;
                }
                break;
            case PairState::AwaitLow:
                if (IsHexDigit(c)) {
                    bytes.push_back(static_cast<uint8_t>(high * 16 + HexValue(c)));
                    state = PairState::AwaitX;
                }
                break;
        }
    }
    return bytes;
}

BitmapConversion ConvertBitmapText(FILE* text, FILE* binary) {
    BitmapConversion result{true, 0};
    char line[kBitmapLineBuffer];
    while (std::fgets(line, sizeof line, text) != nullptr) {
        const std::vector<uint8_t> bytes = DecodeBitmapLine(line, std::strlen(line));
        if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), binary) != bytes.size()) {
            result.ok = false;
            return result;
        }
        result.bytesWritten += static_cast<long>(bytes.size());
    }
    if (std::ferror(text) || std::fflush(binary) != 0) result.ok = false;
    return result;
}
