// Result texts of the reporters, as the operator reads them (spellings included).
#include "transfer/ReportTexts.h"

namespace transfer {

const char* NlecReportText(ReportOperation operation, const char* passedText) {
    if (operation == ReportOperation::RetryExhausted) return "Nlec transfer failure. Retry count exceeded.";
    return passedText ? passedText : "";
}

const char* FileReportText(ReportOperation operation, TransferKind transferKind) {
    switch (operation) {
        case ReportOperation::RetryExhausted: return "Binary Test transfer failure. Retry count exceeded.";
        case ReportOperation::ReceiveComplete:
        case ReportOperation::SendVerified:
            switch (transferKind) {
                case TransferKind::KIND_BITMAP: return "Bitmap Transfer sucessfully completed.";
                case TransferKind::KIND_SETTINGS: return "Transfer of settings sucessfully completed.";
                case TransferKind::KIND_PROGRAM: return "Transfer of program sucessfully completed.";
                default: return "Binary Transfer sucessfully completed.";
            }
        case ReportOperation::Failure:
            switch (transferKind) {
                case TransferKind::KIND_BITMAP: return "Bitmap transfer failure.";
                case TransferKind::KIND_SETTINGS: return "Settings transfer failure.";
                case TransferKind::KIND_PROGRAM: return "Program transfer failure.";
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

}  // namespace transfer
