// Result texts of the reporters, as the operator reads them (spellings included).
#include "transfer/ReportTexts.h"

namespace {
// Transfer kinds (the values of TransferKind) that have their own texts.
constexpr int kKindBitmap = 24;
constexpr int kKindSettings = 25;
constexpr int kKindProgram = 26;
}  // namespace

const char* NlecReportText(ReportOperation operation, const char* passedText) {
    if (operation == ReportOperation::RetryExhausted) return "Nlec transfer failure. Retry count exceeded.";
    return passedText ? passedText : "";
}

const char* FileReportText(ReportOperation operation, int transferKind) {
    switch (operation) {
        case ReportOperation::RetryExhausted:
            return "Binary Test transfer failure. Retry count exceeded.";
        case ReportOperation::ReceiveComplete:
        case ReportOperation::SendVerified:
            switch (transferKind) {
                case kKindBitmap: return "Bitmap Transfer sucessfully completed.";
                case kKindSettings: return "Transfer of settings sucessfully completed.";
                case kKindProgram: return "Transfer of program sucessfully completed.";
                default: return "Binary Transfer sucessfully completed.";
            }
        case ReportOperation::Failure:
            switch (transferKind) {
                case kKindBitmap: return "Bitmap transfer failure.";
                case kKindSettings: return "Settings transfer failure.";
                case kKindProgram: return "Program transfer failure.";
                default: return "Binary Test transfer failure.";
            }
    }
    return "";
}

const char* DefaultReportText(ReportOperation operation) {
    switch (operation) {
        case ReportOperation::RetryExhausted: return kRetryErrorText;
        case ReportOperation::ReceiveComplete:
        case ReportOperation::SendVerified: return kTransferCompleteText;
        case ReportOperation::Failure: return kTransferErrorText;
    }
    return "";
}
