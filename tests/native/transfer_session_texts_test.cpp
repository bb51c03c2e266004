// Texts of the two result reporters and the decimal text the handlers read.
#include <gtest/gtest.h>

#include <string>

#include "transfer/DecimalText.h"
#include "transfer/ReportTexts.h"

using namespace transfer;

namespace {

TEST(TransferSessionTexts, FileReporterChoosesByKind) {
    struct Row {
        TransferKind kind;
        const char* done;
        const char* failed;
    };
    const Row rows[] = {
        {TransferKind::KIND_BITMAP, "Bitmap Transfer sucessfully completed.", "Bitmap transfer failure."},
        {TransferKind::KIND_SETTINGS, "Transfer of settings sucessfully completed.", "Settings transfer failure."},
        {TransferKind::KIND_PROGRAM, "Transfer of program sucessfully completed.", "Program transfer failure."},
        {TransferKind::KIND_BINARY, "Binary Transfer sucessfully completed.", "Binary Test transfer failure."},
        {TransferKind{}, "Binary Transfer sucessfully completed.", "Binary Test transfer failure."},
    };
    for (const Row& r : rows) {
        EXPECT_STREQ(FileReportText(ReportOperation::ReceiveComplete, r.kind), r.done);
        EXPECT_STREQ(FileReportText(ReportOperation::SendVerified, r.kind), r.done);
        EXPECT_STREQ(FileReportText(ReportOperation::Failure, r.kind), r.failed);
        EXPECT_STREQ(FileReportText(ReportOperation::RetryExhausted, r.kind),
                     "Binary Test transfer failure. Retry count exceeded.");
    }
}

TEST(TransferSessionTexts, NlecReporterKeepsTheCallersTextButItsOwnRetryText) {
    EXPECT_STREQ(NlecReportText(ReportOperation::RetryExhausted, kRetryErrorText),
                 "Nlec transfer failure. Retry count exceeded.");
    EXPECT_STREQ(NlecReportText(ReportOperation::Failure, "Nlec Checksum Failure."), "Nlec Checksum Failure.");
    EXPECT_STREQ(NlecReportText(ReportOperation::SendVerified, nullptr), "");
    EXPECT_STREQ(DefaultReportText(ReportOperation::RetryExhausted), "Retry Error.");
    EXPECT_STREQ(DefaultReportText(ReportOperation::ReceiveComplete), "Transfer complete.");
    EXPECT_STREQ(DefaultReportText(ReportOperation::Failure), "Transfer error.");
}

TEST(TransferSessionTexts, DecimalTextAsTheHandlersReadIt) {
    EXPECT_EQ(ParseDecimalText("  +17abc"), 17);
    EXPECT_EQ(ParseDecimalText("-0"), 0);
    EXPECT_EQ(ParseDecimalText(""), 0);
    EXPECT_EQ(ParseDecimalText("x12"), 0);
    EXPECT_EQ(ParseDecimalText("- 5"), 0) << "no blank between sign and digits";
    EXPECT_EQ(ParseDecimalText(static_cast<const char*>(nullptr)), 0);
    // Far beyond 32 bits: wraps instead of overflowing; the low 16 bits are the number's.
    EXPECT_EQ(static_cast<uint16_t>(ParseDecimalText("4295032833")), 1) << "2^32 + 65 537";
    EXPECT_EQ(static_cast<uint16_t>(ParseDecimalText("99999999999999999999")), 65535) << "10^20 - 1";
    // Bounded by the length: a payload without a terminator is never read past its end.
    const uint8_t payload[] = {'1', '2', '3', '4'};
    EXPECT_EQ(ParseDecimalText(payload, 3), 123);
    EXPECT_EQ(ParseDecimalText(payload, 0), 0);
}

}  // namespace
