// The activity log: list 1002 of the main dialog. Every append tolerates a missing list.
#pragma once
#include <windows.h>

// Appends one printf-style line; a non-zero errorCode adds the system's text for it as a
// second line.
void LogMessage(HWND window, DWORD errorCode, const char* format, ...);
// Appends a finished line as it stands (no formatting, no error text). Any thread.
void AppendLogLine(HWND window, const char* line);
// Empties the list (posted, so it happens after the current message).
void ClearLog(HWND window);
// Writes all lines, or the selected ones, to a new temporary file and opens it in Notepad.
void ExportLog(HWND list, int selectedOnly);

// What starts the viewer of an export, given "notepad <file>"; null restores WinExec.
// Tests replace it so that no editor opens.
using ExportLauncher = void (*)(const char* commandLine);
void SetExportLauncher(ExportLauncher launcher);
