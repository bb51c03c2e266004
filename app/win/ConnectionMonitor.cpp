// The 100 ms look at the port and the unit's CTS line.
#include "app/win/ConnectionMonitor.h"

void CreateIndicatorPalette() {}
void MonitorConnection(HWND) {}
