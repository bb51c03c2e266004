// The dialog's one progress bar along the bottom of the main dialog: what the dialog's
// activity view does with the glue's progress calls. Creating a bar
// destroys any previous one, so at most one ever exists. Workers only set its position.
#pragma once
#include <windows.h>

#include "common/win/ActivityView.h"

namespace progress_bar {

void Create(HWND dialog, unsigned maximum, common::win::ProgressRange range);  // UI thread only
void Destroy();                                                                // UI thread only
void SetPosition(unsigned position);  // any thread (sent synchronously to the bar)
void Advance(unsigned increment);     // UI thread only
HWND Window();

}  // namespace progress_bar
