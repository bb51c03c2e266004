// The texts the two result reporters show: the NLEC reporter keeps the caller's text except
// for its own retry message; the file reporter picks its text by the transfer kind.
#pragma once

#include "transfer/Operation.h"

namespace transfer {

enum class ReportOperation { RetryExhausted, ReceiveComplete, SendVerified, Failure };

// The texts the callers pass (and show themselves when no session has a reporter yet).
inline constexpr const char kRetryErrorText[] = "Retry Error.";
inline constexpr const char kTransferCompleteText[] = "Transfer complete.";
inline constexpr const char kTransferErrorText[] = "Transfer error.";

const char* NlecReportText(ReportOperation operation, const char* passedText);
const char* FileReportText(ReportOperation operation, TransferKind transferKind);
// The text a caller passes for an operation.
const char* DefaultReportText(ReportOperation operation);

}  // namespace transfer
