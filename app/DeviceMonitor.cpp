// The connection monitor's tick decision. A change of DeviceState repaints the page; a
// change into "ready" and the move from page 7 to page 8 also erase the background.
#include "app/DeviceMonitor.h"

namespace monitor {

namespace {
using wizard::Repaint;

// Two invalidations of the same area in one tick merge into one; erasing wins.
Repaint Stronger(Repaint a, Repaint b) { return a > b ? a : b; }
}  // namespace

MonitorOutcome DecideConnection(const LineReading& line, int deviceState, int wizardState) {
    MonitorOutcome out{BarColour::Black, wizard::kDeviceNoPort, wizardState, Repaint::None};
    if (!line.portOpen) {
        if (deviceState != wizard::kDeviceNoPort) out.repaint = Repaint::KeepBackground;
        return out;
    }
    if (!line.statusRead || !line.ctsOn) {
        // A modem status that cannot be read counts as CTS off: the unit is done or gone.
        out.colour = BarColour::Red;
        out.deviceState = wizard::kDeviceNotReady;
        if (deviceState != wizard::kDeviceNotReady) out.repaint = Repaint::KeepBackground;
        if (wizardState == kPageAwaitingUnit) {
            out.wizardState = kPageComplete;
            out.repaint = Stronger(out.repaint, Repaint::EraseBackground);
        }
        return out;
    }
    if (wizardState < kFirstPageReadingCts) {
        out.colour = BarColour::Red;
        out.deviceState = wizard::kDeviceNotReady;
        if (deviceState != wizard::kDeviceNotReady) out.repaint = Repaint::KeepBackground;
        return out;
    }
    out.colour = BarColour::Green;
    out.deviceState = wizard::kDeviceReady;
    if (deviceState != wizard::kDeviceReady) out.repaint = Repaint::EraseBackground;
    return out;
}

}  // namespace monitor
