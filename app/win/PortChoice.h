// The operator's choice of port in the dialog: the switch with its log lines, and the box
// when the chosen port cannot be opened.
#pragma once
#include <windows.h>

#include "common/win/ActivityView.h"

// Closes the open port (if any), opens the given one at 38 400 baud, logs the outcome and
// tells the operator (a box over dialog) when it cannot be opened.
void SelectCommPort(HWND dialog, common::win::ActivityView& view, int portNumber);
// A port button was pressed: the port is selected and remembered, whether or not it opened.
void ChoosePort(HWND dialog, common::win::ActivityView& view, int portNumber);
