// Bitmap text to bytes: the pair rules, long lines read in pieces, the reset at a line break,
// and errors never taken for the end.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "transfer/BitmapText.h"

using namespace transfer;

namespace {

std::vector<uint8_t> Decode(const std::string& text) { return DecodeBitmapLine(text.data(), text.size()); }

std::vector<uint8_t> ConvertText(const std::string& text, BitmapConversion* conversion,
                                 size_t limit = kMaxBitmapImageBytes) {
    FILE* in = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), in);
    std::rewind(in);
    std::vector<uint8_t> bytes;
    *conversion = ConvertBitmapText(in, bytes, limit);
    std::fclose(in);
    return bytes;
}

}  // namespace

TEST(TransferBitmap, HexDigitsAreExactlyTheTwentyTwoCharacters) {
    int digits = 0;
    for (int c = -128; c < 256; ++c) digits += IsHexDigit(c) ? 1 : 0;
    EXPECT_EQ(digits, 22);
    EXPECT_TRUE(IsHexDigit('0'));
    EXPECT_TRUE(IsHexDigit('f'));
    EXPECT_TRUE(IsHexDigit('F'));
    EXPECT_FALSE(IsHexDigit('g'));
    EXPECT_FALSE(IsHexDigit('0' + 128));  // the high-bit twin of a digit is not a digit
    EXPECT_FALSE(IsHexDigit('a' + 128));
}

TEST(TransferBitmap, PairsAreDecodedFromLowercaseX) {
    EXPECT_EQ(Decode("0x1F, 0xA0"), (std::vector<uint8_t>{0x1F, 0xA0}));
    EXPECT_EQ(Decode("x1,2"), (std::vector<uint8_t>{0x12}));
    EXPECT_TRUE(Decode("0X1F").empty());
    EXPECT_EQ(Decode("0xff 0x00"), (std::vector<uint8_t>{0xFF, 0x00}));
    // A high-bit character between the digits is skipped, not read as a digit.
    EXPECT_EQ(Decode("x\xb1"
                     "2"
                     "3"),
              (std::vector<uint8_t>{0x23}));
    // A pair left open at the end of the read gives nothing.
    EXPECT_EQ(Decode("0x12, 0x3"), (std::vector<uint8_t>{0x12}));
}

TEST(TransferBitmap, ConversionWritesEveryLineAndDropsSplitPairs) {
    BitmapConversion conversion{};
    const std::vector<uint8_t> bytes = ConvertText("0x01, 0x02,\n0x0\n3, 0x04\n", &conversion);
    EXPECT_EQ(conversion, BitmapConversion::Done);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x01, 0x02, 0x04}));
}

// Lines of over 2 100 characters span three reads; a pair split at a read boundary inside a
// line must still decode. Checked against a conversion of whole lines at once, with
// the pairs shifted line by line so that every split position comes up.
TEST(TransferBitmap, LongLinesDecodeWholeAcrossReads) {
    std::string text;
    for (int line = 0; line < 12; ++line) {
        std::string row(static_cast<size_t>(line), ' ');
        for (int pair = 0; row.size() < 2100u + static_cast<size_t>(line); ++pair) {
            char item[16];
            std::snprintf(item, sizeof item, "0x%02X, ", (pair * 37 + line) & 0xFF);
            row += item;
        }
        if (line % 3 == 0) row += "0x4";  // a pair cut by the line break gives nothing
        text += row + "\n";
    }
    // Whole lines at once: from each "x", the next two hexadecimal digits on its line.
    const char* const kHex = "0123456789abcdefABCDEF";
    std::vector<uint8_t> expected;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        for (size_t x = line.find('x'); x != std::string::npos; x = line.find('x', x + 1)) {
            const size_t high = line.find_first_of(kHex, x + 1);
            const size_t low = high == std::string::npos ? high : line.find_first_of(kHex, high + 1);
            if (low == std::string::npos) break;
            expected.push_back(static_cast<uint8_t>(std::stoi(line.substr(high, 1) + line[low], nullptr, 16)));
            x = low;
        }
    }
    BitmapConversion conversion{};
    const std::vector<uint8_t> bytes = ConvertText(text, &conversion);
    EXPECT_EQ(conversion, BitmapConversion::Done);
    EXPECT_GT(expected.size(), 12u * 300u);
    EXPECT_EQ(bytes, expected);
}

// A text that cannot be read, or that would give more than the limit, is refused: never a
// short image sent as whole, never an image grown without bound.
TEST(TransferBitmap, AReadFailureOrAnOversizeImageIsReported) {
    FILE* writeOnly = std::fopen("/dev/null", "w");
    ASSERT_NE(writeOnly, nullptr);
    std::vector<uint8_t> bytes;
    EXPECT_EQ(ConvertBitmapText(writeOnly, bytes), BitmapConversion::ReadFailed);
    std::fclose(writeOnly);

    BitmapConversion conversion{};
    ConvertText("0x01 0x02\n0x03\n", &conversion, 3);
    EXPECT_EQ(conversion, BitmapConversion::Done);
    ConvertText("0x01 0x02\n0x03 0x04\n", &conversion, 3);
    EXPECT_EQ(conversion, BitmapConversion::TooLarge);
}
