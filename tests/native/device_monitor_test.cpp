// The connection monitor's tick: bar colour, DeviceState, the move from page 7 to page 8
// and which changes erase the background.
#include "app/DeviceMonitor.h"

#include <gtest/gtest.h>

using namespace monitor;
using wizard::Repaint;

namespace {

constexpr LineReading kNoPortOpen{false, false, false};
constexpr LineReading kCtsOn{true, true, true};
constexpr LineReading kCtsOff{true, true, false};
constexpr LineReading kStatusUnreadable{true, false, true};

struct TickCase {
    const char* what;
    LineReading line;
    int deviceBefore;
    int pageBefore;
    BarColour colour;
    int deviceAfter;
    int pageAfter;
    Repaint repaint;
};

TEST(ConnectionMonitor, EveryTickOutcome) {
    const TickCase cases[] = {
        {"no port, was none", kNoPortOpen, 0, 1, BarColour::Black, 0, 1, Repaint::None},
        {"port closed", kNoPortOpen, 1, 1, BarColour::Black, 0, 1, Repaint::KeepBackground},
        {"no port keeps page 7", kNoPortOpen, 2, 7, BarColour::Black, 0, 7, Repaint::KeepBackground},
        {"first tick after opening", kCtsOff, 0, 1, BarColour::Red, 1, 1, Repaint::KeepBackground},
        {"CTS on page 1 is not ready", kCtsOn, 0, 1, BarColour::Red, 1, 1, Repaint::KeepBackground},
        {"CTS on page 2, steady", kCtsOn, 1, 2, BarColour::Red, 1, 2, Repaint::None},
        {"CTS on page 3 turns ready", kCtsOn, 1, 3, BarColour::Green, 2, 3, Repaint::EraseBackground},
        {"ready on page 4, steady", kCtsOn, 2, 4, BarColour::Green, 2, 4, Repaint::None},
        {"CTS drops on page 4", kCtsOff, 2, 4, BarColour::Red, 1, 4, Repaint::KeepBackground},
        {"status unreadable", kStatusUnreadable, 2, 4, BarColour::Red, 1, 4, Repaint::KeepBackground},
        {"CTS still on page 7", kCtsOn, 2, 7, BarColour::Green, 2, 7, Repaint::None},
        {"CTS drops on page 7", kCtsOff, 2, 7, BarColour::Red, 1, 8, Repaint::EraseBackground},
        {"page 7 already not ready", kCtsOff, 1, 7, BarColour::Red, 1, 8, Repaint::EraseBackground},
        {"unreadable on page 7", kStatusUnreadable, 2, 7, BarColour::Red, 1, 8, Repaint::EraseBackground},
        {"page 8 steady", kCtsOff, 1, 8, BarColour::Red, 1, 8, Repaint::None},
    };
    for (const TickCase& c : cases) {
        SCOPED_TRACE(c.what);
        MonitorOutcome out = DecideConnection(c.line, c.deviceBefore, c.pageBefore);
        EXPECT_EQ(out.colour, c.colour);
        EXPECT_EQ(out.deviceState, c.deviceAfter);
        EXPECT_EQ(out.wizardState, c.pageAfter);
        EXPECT_EQ(out.repaint, c.repaint);
    }
}

}  // namespace
