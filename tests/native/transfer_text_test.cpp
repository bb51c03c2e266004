// Opening texts, wrapping sums, NLEC line pieces, the unit's decimal echoes and the receive
// tally that stops a file from growing past what the unit announced.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "transfer/DecimalText.h"
#include "transfer/TransferText.h"

using namespace transfer;

namespace {

FILE* FileWith(const std::string& text) {
    FILE* file = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    return file;
}

uint16_t EchoOf(const std::string& text, bool* ok) {
    uint16_t sum = 0xBEEF;
    *ok = ParseEchoedSum(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &sum);
    return sum;
}

}  // namespace

TEST(TransferText, OpeningAndRequestTexts) {
    const uint8_t settings[] = {1, 2, 255};
    const uint16_t sum = AddToSum(0, settings, sizeof settings);
    EXPECT_EQ(FormatOpeningText(TransferKind::KIND_SETTINGS, sum, 3), "25,258,3,");
    EXPECT_EQ(FormatOpeningText(TransferKind::KIND_SETTINGS, 0, 0), "25,0,0,");
    EXPECT_EQ(FormatOpeningText(TransferKind::KIND_BITMAP, 65535, 70000), "24,65535,70000,");
    EXPECT_EQ(FormatReceiveRequest(TransferKind::KIND_SETTINGS, nullptr), "25");
    EXPECT_EQ(FormatReceiveRequest(TransferKind::KIND_PROGRAM, "ABC"), "26ABC");
    EXPECT_EQ(FormatReceiveRequest(TransferKind::KIND_PROGRAM, std::string(300, 'N').c_str()).size(), 2u + 254u);
}

TEST(TransferText, SumsWrapModulo65536) {
    std::vector<uint8_t> bytes(258, 0xFF);  // 258 * 255 = 65 790 = 65 536 + 254
    EXPECT_EQ(AddToSum(0, bytes.data(), bytes.size()), 254);
    EXPECT_EQ(AddToSum(65535, bytes.data(), 1), 254);

    FILE* file = FileWith(std::string(258, '\xff'));
    const StreamSum whole = SumFileBytes(file);
    EXPECT_TRUE(whole.ok);
    EXPECT_EQ(whole.sum, 254);
    EXPECT_EQ(whole.count, 258);
    EXPECT_EQ(std::fgetc(file), 0xFF);  // rewound for the send
    std::fclose(file);
}

TEST(TransferText, NlecLinesAreCutAt511AndSummedAsSent) {
    const std::string text = std::string(600, 'A') + "\nB\n\nlast";
    FILE* file = FileWith(text);
    const StreamSum total = SumNlecLines(file);
    EXPECT_EQ(total.count, static_cast<int32_t>(text.size()));
    EXPECT_EQ(total.sum, AddToSum(0, reinterpret_cast<const uint8_t*>(text.data()), text.size()));

    std::vector<int> lengths;
    char line[kNlecLineBuffer];
    int length;
    std::string rebuilt;
    while ((length = ReadNlecLine(file, line)) >= 0) {
        lengths.push_back(length);
        rebuilt.append(line, static_cast<size_t>(length));
    }
    EXPECT_EQ(lengths, (std::vector<int>{511, 90, 2, 1, 4}));
    EXPECT_EQ(rebuilt, text);
    std::fclose(file);

    FILE* empty = FileWith("");
    const StreamSum none = SumNlecLines(empty);
    EXPECT_EQ(none.count, 0);
    EXPECT_EQ(none.sum, 0);
    EXPECT_EQ(ReadNlecLine(empty, line), -1);
    std::fclose(empty);
}

TEST(TransferText, EchoedSumsReadLikeTheUnitWritesThem) {
    bool ok = false;
    EXPECT_EQ(EchoOf("65535", &ok), 65535);
    EXPECT_TRUE(ok);
    EXPECT_EQ(EchoOf("-1", &ok), 65535);
    EXPECT_EQ(EchoOf("12abc", &ok), 12);
    EXPECT_EQ(EchoOf("  +258", &ok), 258);
    EXPECT_EQ(EchoOf("abc", &ok), 0);
    EXPECT_EQ(EchoOf("", &ok), 0);
    EXPECT_TRUE(ok);
    EXPECT_EQ(EchoOf("65536", &ok), 0);
    // Far more digits than 32 bits hold: wraps, keeps its low bits, no overflow.
    EXPECT_EQ(EchoOf("4294967296258", &ok), 258);
    EXPECT_TRUE(ok);

    EchoOf(std::string(127, '1'), &ok);
    EXPECT_TRUE(ok);
    EchoOf(std::string(128, '1'), &ok);
    EXPECT_FALSE(ok);
    EchoOf("0" + std::string(200, ' '), &ok);
    EXPECT_FALSE(ok);

    EXPECT_EQ(ParseDecimalText("300"), 300);
    EXPECT_EQ(ParseDecimalText("\t-42x"), -42);
    // Only the given bytes are read, even when more digits follow in memory.
    const uint8_t digits[] = {'1', '2', '3'};
    EXPECT_EQ(ParseDecimalText(digits, 2), 12);
}

TEST(TransferText, ReceiveTallyHoldsToTheAnnouncedSize) {
    ReceiveTally tally;
    tally.Start();
    EXPECT_TRUE(tally.Fits(512));  // no size announced yet
    tally.Announce(300);
    EXPECT_TRUE(tally.Fits(300));
    EXPECT_FALSE(tally.Fits(301));
    tally.Add(256);
    EXPECT_FALSE(tally.Complete());
    EXPECT_TRUE(tally.Fits(44));
    EXPECT_FALSE(tally.Fits(45));
    tally.Add(44);
    EXPECT_TRUE(tally.Complete());
    EXPECT_FALSE(tally.Fits(1));

    tally.Start();
    tally.Announce(-5);  // a nonsense size is treated as unknown, not as a limit of 0
    EXPECT_TRUE(tally.Fits(10));
}

TEST(TransferText, NlecLineEndsAreTranslatedOnceEachWay) {
    char line[kNlecLineBuffer];
    // A lone CR is an ordinary character; CR LF is one newline, also across the 511 cut.
    FILE* file = FileWith("A=1\r\r\nB\r" + std::string(508, 'C') + "\r\nD");
    EXPECT_EQ(ReadNlecLine(file, line), 5);
    EXPECT_EQ(std::string(line), "A=1\r\n");
    EXPECT_EQ(ReadNlecLine(file, line), 511);
    EXPECT_EQ(std::string(line), "B\r" + std::string(508, 'C') + "\n");
    EXPECT_EQ(ReadNlecLine(file, line), 1);
    EXPECT_EQ(ReadNlecLine(file, line), -1);
    std::fclose(file);

    FILE* out = std::tmpfile();
    EXPECT_TRUE(WriteNlecLine(out, "X=1"));
    EXPECT_TRUE(WriteNlecLine(out, "a\nb"));
    EXPECT_TRUE(WriteNlecLine(out, ""));
    std::rewind(out);
    char written[32] = {};
    const size_t got = std::fread(written, 1, sizeof written, out);
    EXPECT_EQ(std::string(written, got), "X=1\r\na\r\nb\r\n\r\n");
    std::fclose(out);
}
