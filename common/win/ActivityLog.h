// The activity log as the lower layers see it: lines go to the installed UiSink. Every
// append tolerates a front-end that shows no log.
#pragma once
#include <windows.h>

// Appends one printf-style line; a non-zero errorCode adds the system's text for it as a
// second line.
void LogMessage(HWND window, DWORD errorCode, const char* format, ...);
// Appends a finished line as it stands (no formatting, no error text). Any thread.
void AppendLogLine(HWND window, const char* line);
