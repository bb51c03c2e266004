// The wizard's eight pages as data: every text, caption, enable and show state and picture
// of a page is a pure function of five values, so a page can be checked without a window.
// The moves of the Next and Back buttons are described the same way.
#pragma once

#include <optional>
#include <string>

namespace wizard {

// What the page painter reads.
struct WizardInputs {
    int wizardState = 1;         // page 1..8
    int deviceState = 0;         // 0 no port, 1 unit not ready, 2 unit ready
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
    std::string title;   // 1027
    std::string first;   // 1029
    std::string second;  // 1028
    std::string footer;  // 1026
    ControlState back;   // 1017
    ControlState next;   // 1016
    ControlState radios; // 1010..1013
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
    int newState = 0;                    // unchanged when the button does nothing
    Repaint repaint = Repaint::None;
    std::optional<int> bootloaderSelected;  // page 3 records the choice
    std::optional<int> downloadRetry;       // set after the repaint (page 8's Back)
    unsigned downloadBaud = 0;              // page 4 starts a download at this speed after the repaint
};

WizardMove NextMove(int wizardState);
WizardMove BackMove(int wizardState);

inline constexpr unsigned kFastBaud = 115200;
inline constexpr unsigned kSlowBaud = 57600;

}  // namespace wizard
