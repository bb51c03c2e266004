// The system's own words for a Win32 error code.
#pragma once
#include <windows.h>

#include <string>

// The text as the system returns it (line end included); empty when it has none.
std::string SystemMessage(DWORD errorCode);
