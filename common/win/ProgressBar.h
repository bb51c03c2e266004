// The one progress bar, as the lower layers see it: every call goes to the installed UiSink.
// Creating a bar destroys any previous one, so at most one ever exists. Workers only set
// its position.
#pragma once
#include <windows.h>

enum class ProgressRange { Range16, Range32 };  // PBM_SETRANGE (16-bit maximum) or PBM_SETRANGE32

// Creates the bar with range 0..maximum (the 16-bit form keeps only the low 16 bits, as the
// message does) and step 1. UI thread only.
void CreateProgressBar(HWND dialog, unsigned maximum, ProgressRange range);
// Destroys the bar if one exists. UI thread only.
void DestroyProgressBar();
// Sets the absolute position; callable from a worker (sent synchronously to the bar).
void SetProgressPosition(unsigned position);
// Reads the position and sets position + increment. UI thread only.
void AdvanceProgress(unsigned increment);
// The bar's window, or null; for tests and the end-to-end driver.
HWND ProgressBarWindow();
