// The main dialog's answer to the lower layers' reports: log lines into list 1002, progress
// into the bar along its bottom edge.
#pragma once

// Installs the dialog's sink; WinMain does it before the dialog starts, tests before theirs.
void InstallDialogUiSink();
