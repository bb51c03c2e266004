// Bitmap text to bytes: the pair rules, the per-read reset, and errors never taken for the end.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "transfer/BitmapText.h"

namespace {

std::vector<uint8_t> Decode(const std::string& text) { return DecodeBitmapLine(text.data(), text.size()); }

std::vector<uint8_t> ConvertText(const std::string& text, BitmapConversion* conversion) {
    FILE* in = std::tmpfile();
    FILE* out = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), in);
    std::rewind(in);
    *conversion = ConvertBitmapText(in, out);
    std::rewind(out);
    std::vector<uint8_t> bytes;
    int c;
    while ((c = std::fgetc(out)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(in);
    std::fclose(out);
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
    EXPECT_EQ(Decode("x\xb1" "2" "3"), (std::vector<uint8_t>{0x23}));
    // A pair left open at the end of the read gives nothing.
    EXPECT_EQ(Decode("0x12, 0x3"), (std::vector<uint8_t>{0x12}));
}

TEST(TransferBitmap, ConversionWritesEveryLineAndDropsSplitPairs) {
    BitmapConversion conversion{};
    const std::vector<uint8_t> bytes = ConvertText("0x01, 0x02,\n0x0\n3, 0x04\n", &conversion);
    EXPECT_TRUE(conversion.ok);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x01, 0x02, 0x04}));
    EXPECT_EQ(conversion.bytesWritten, 3);
}

TEST(TransferBitmap, LongLinesAreReadInPiecesOf1022) {
    // 1020 filler characters, then "x1" at the end of the first read and "2" in the next:
    // the pair is split by the read boundary and gives nothing; a whole pair after it does.
    std::string text(1020, ' ');
    text += "x12 x34\n";
    BitmapConversion conversion{};
    const std::vector<uint8_t> bytes = ConvertText(text, &conversion);
    EXPECT_TRUE(conversion.ok);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x34}));
}

TEST(TransferBitmap, AWriteFailureIsReported) {
    FILE* in = std::tmpfile();
    std::fputs("0x01 0x02\n", in);
    std::rewind(in);
    FILE* readOnly = std::fopen("/dev/null", "r");
    ASSERT_NE(readOnly, nullptr);
    const BitmapConversion conversion = ConvertBitmapText(in, readOnly);
    EXPECT_FALSE(conversion.ok);
    std::fclose(in);
    std::fclose(readOnly);
}
