// The system's own words for a Win32 error code: every Win32 text the product shows comes
// from here, so each caller words a code the same way.
#pragma once
#include <windows.h>

#include <string>

namespace common::win {

// The text as the system returns it (line end included); empty when it has none.
std::string SystemMessage(DWORD errorCode);
// The text as one line (no line end), or "system error N" when the system has none.
std::string SystemText(DWORD errorCode);
// The activity log's second line for a failure: the text exactly as the system words it
// (line end included), or "Error N (no system text)".
std::string SystemLogText(DWORD errorCode);

}  // namespace common::win
