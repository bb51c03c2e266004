// The decision the connection monitor takes on every timer tick, as a pure function: from
// the port, the unit's CTS line and the wizard page to the bar colour, DeviceState, the
// page and how the window is to be repainted.
#pragma once

#include "app/WizardPages.h"

namespace monitor {

inline constexpr int kPageAwaitingUnit = 7;  // the unit is still taking in the image
inline constexpr int kPageComplete = 8;
inline constexpr int kFirstPageReadingCts = 3;  // before it, CTS on does not mean "ready"

enum class BarColour { Black, Red, Green };

struct LineReading {
    bool portOpen = false;
    bool statusRead = false;  // the modem status could be read
    bool ctsOn = false;
};

struct MonitorOutcome {
    BarColour colour;
    int deviceState;
    int wizardState;
    wizard::Repaint repaint;
};

MonitorOutcome DecideConnection(const LineReading& line, int deviceState, int wizardState);

}  // namespace monitor
