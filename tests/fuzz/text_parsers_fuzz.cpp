// Fuzzes the parsers of text that comes from outside the program: bitmap hexadecimal text
// files (one read at a time, and whole files through the converter) and the decimal numbers
// the unit sends. Checks what the decoder promises: at most one byte per three characters,
// and every byte it gives is a pair that the text really holds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "transfer/BitmapText.h"
#include "transfer/DecimalText.h"

using namespace transfer;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

// Replays the pair rule independently: "x", then two hexadecimal digits with anything but a
// line break between them.
std::vector<uint8_t> ExpectedPairs(const char* text, size_t length) {
    std::vector<uint8_t> bytes;
    int state = 0;
    int high = 0;
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (c == '\n') {
            state = 0;  // a line break ends any half pair
            continue;
        }
        if (state == 0) {
            if (c == 'x') state = 1;
        } else if (IsHexDigit(static_cast<unsigned char>(c))) {
            if (state == 1) {
                high = HexValue(c);
                state = 2;
            } else {
                bytes.push_back(static_cast<uint8_t>(high * 16 + HexValue(c)));
                state = 0;
            }
        }
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const std::vector<uint8_t> decoded = DecodeBitmapLine(text, size);
    Check(decoded.size() <= size / 3);
    Check(decoded == ExpectedPairs(text, size));

    ParseDecimalText(data, size);  // must stay within size whatever the bytes

    // The whole-file path: text mode reads, long lines cut at the line buffer.
    FILE* in = fmemopen(const_cast<uint8_t*>(data), size ? size : 1, "r");
    if (in && size) {
        std::vector<uint8_t> image;
        Check(ConvertBitmapText(in, image) == BitmapConversion::Done);
        Check(image.size() <= size / 3);
    }
    if (in) std::fclose(in);
    return 0;
}
