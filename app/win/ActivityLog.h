// The activity log: list 1002 of the main dialog. Every append tolerates a missing list.
#pragma once
#include <windows.h>

// Adds a finished line to the list and scrolls so that it is the top visible line; what the
// dialog's activity view does with every log line. Any thread.
void AddLogListLine(HWND window, const char* line);
// Empties the list (posted, so it happens after the current message).
void ClearLog(HWND window);
// Writes all lines, or the selected ones, to a new temporary file and opens it in Notepad.
void ExportLog(HWND list, int selectedOnly);

// What starts the viewer of an export, given "notepad <file>"; null restores WinExec.
// Tests replace it so that no editor opens.
using ExportLauncher = void (*)(const char* commandLine);
void SetExportLauncher(ExportLauncher launcher);
