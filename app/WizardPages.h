// The wizard's eight pages as data: every text, caption, enable and show state and picture
// of a page is a pure function of five values, so a page can be checked without a window.
// The moves of the Next and Back buttons are described the same way.
#pragma once

#include <optional>
#include <string>

namespace wizard {

// What the connection monitor knows of the unit, kept as the dialog's DeviceState.
inline constexpr int kDeviceNoPort = 0;
inline constexpr int kDeviceNotReady = 1;  // a port is open, the unit's CTS is down
inline constexpr int kDeviceReady = 2;     // the unit is in its bootloader menu

// What the page painter reads.
struct WizardInputs {
    int wizardState = 1;  // page 1..8
    int deviceState = kDeviceNoPort;
    int bootloaderSelected = 0;  // 1 bootloader, 0 the 2-axis software
    int downloadRetry = 0;       // 1 after going back from page 8
    long imageByteCount = 0;     // shown on page 8
};

// One push button or the radio group: a property left empty is left as it was.
struct ControlState {
    std::optional<std::string> caption;
    std::optional<bool> enabled;
    std::optional<bool> shown;
};

// Bitmap resource identifiers of the two picture slots; 0 leaves a slot undrawn.
struct WizardPage {
    std::string title;    // the heading at the top
    std::string first;    // the first paragraph under it
    std::string second;   // the second paragraph
    std::string footer;   // the line under the pictures
    ControlState back;    // the Back button
    ControlState next;    // the Next button
    ControlState radios;  // the radio group (port or image choice)
    int slot1Bitmap = 0;
    int slot2Bitmap = 0;
    bool clearsDownloadRetry = false;  // painting the page sets DownloadRetry to 0
};

// The page for these values, with every %s filled with the device name. An out-of-range
// page number yields a page that changes nothing but its empty texts and draws nothing.
WizardPage BuildWizardPage(const WizardInputs& inputs);

enum class Repaint { None, KeepBackground, EraseBackground };

// The effect of pressing Next or Back on a page.
struct WizardMove {
    int newState = 0;  // unchanged when the button does nothing
    Repaint repaint = Repaint::None;
    std::optional<int> bootloaderSelected;  // page 3 records the choice
    std::optional<int> downloadRetry;       // set after the repaint (page 8's Back)
    unsigned downloadBaud = 0;              // page 4 starts a download at this speed after the repaint
};

WizardMove NextMove(int wizardState);
WizardMove BackMove(int wizardState);

}  // namespace wizard
