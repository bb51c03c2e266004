// The 100 ms look at the port and the unit's CTS line: the indicator bar and DeviceState.
#pragma once
#include <windows.h>

// Creates the three pens and three brushes (start-up step 4).
void CreateIndicatorPalette();
void MonitorConnection(HWND dialog);
// The dialog has been painted: the next tick draws the bar again.
void IndicatorPaintedOver();
