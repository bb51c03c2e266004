// The wizard's page table and button moves. Texts are the program's own words, copied
// exactly (double spaces after full stops, trailing spaces, the literal "?" on page 5).
#include "app/WizardPages.h"

#include "app/DialogIds.h"
#include "app/Texts.h"
#include "serial/LineSpeeds.h"

namespace wizard {

namespace {

// Fills every "%s" with the device name and "%ld" with the byte count.
std::string Fill(const char* text, long count = 0) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += kDeviceName;
            ++p;
        } else if (p[0] == '%' && p[1] == 'l' && p[2] == 'd') {
            out += std::to_string(count);
            p += 2;
        } else {
            out += *p;
        }
    }
    return out;
}

ControlState Button(const char* caption, bool enabled, std::optional<bool> shown = std::nullopt) {
    ControlState state;
    if (caption != nullptr) state.caption = caption;
    state.enabled = enabled;
    state.shown = shown;
    return state;
}

const char* DownloadFooter(bool bootloader) {
    return bootloader ? "Downloading bootloader, please wait . . . " : "Downloading software, please wait . . . ";
}

WizardPage Page1(const WizardInputs& in) {
    WizardPage page;
    page.title = "STEP 1 - Connecting the Serial Cable";
    page.first = Fill("Turn the %s power switch to the OFF position.");
    page.second = Fill("Connect a serial cable between the %s and a serial port on your PC.  "
                       "Refer to the %s user's manual for more information on the cable requirements.");
    page.footer = in.deviceState == kDeviceNoPort ? "The COM port is not open.  Select the correct port below."
                                                  : "When the cable is connected, press NEXT";
    page.back = Button("Back", false);
    page.next = Button("Next", in.deviceState == kDeviceNotReady);
    page.radios = Button(nullptr, true, true);
    page.slot1Bitmap = IDB_SWITCH_OFF;
    page.slot2Bitmap = IDB_CABLE;
    return page;
}

WizardPage Page2() {
    WizardPage page;
    page.title = Fill("STEP 2 - Readying the %s");
    page.first = Fill("Press and hold the \"C\" key on the %s keypad.");
    page.second = Fill("While holding the \"C\" key, turn the %s power switch to the ON position.  "
                       "Wait 2 seconds and release the \"C\" key.");
    page.footer = Fill("When the %s's Bootloader menu appears, press NEXT.");
    page.back = Button("Back", true);
    page.next = Button("Next", true);
    page.radios = Button(nullptr, false, false);
    page.slot1Bitmap = IDB_C_KEY;
    page.slot2Bitmap = IDB_SWITCH_ON;
    return page;
}

WizardPage Page3(const WizardInputs& in) {
    WizardPage page;
    page.title = Fill("STEP 3 - Preparing the %s for Download");
    page.first = (in.downloadRetry == 1 && in.bootloaderSelected == 0)
                     ? "If the download failed at 115 200, use the slower 57 600 transfer speed."
                     : Fill("On the %s select 115 200 for the download speed by pressing the "
                            "numeric key associated with the menu option.");
    page.second = Fill("Refer to the menu on the %s display.  Check the version of the bootloader.  "
                       "If it is not v1.1.2 or greater then you need to download the bootloader "
                       "before downloading the software.");
    page.footer = "Select \"Bootloader\", or \"Software\".";
    page.back = Button("Bootloader", true, true);
    page.next = Button("Software", true, true);
    page.slot1Bitmap = IDB_KEY_ONE;
    page.slot2Bitmap = IDB_MENU_DISPLAY;
    return page;
}

WizardPage Page4(const WizardInputs& in) {
    WizardPage page;
    page.title =
        in.bootloaderSelected == 1 ? "STEP 4 - Downloading the Bootloader" : "STEP 4 - Downloading the Software";
    bool ready = in.deviceState == kDeviceReady;
    if (ready) {
        page.first = Fill("The %s is ready to receive the download.");
        page.second = Fill("Start the download by clicking the button below which matches the "
                           "%s's download speed.");
        page.footer = "Select the download speed.";
    } else {
        page.first = "Please wait ...";
    }
    page.back = Button("57 600", ready, true);
    page.next = Button("115 200", ready, true);
    page.slot1Bitmap = IDB_MENU_DISPLAY;
    return page;
}

// Pages 5 and 6 differ only in the speed named in the title and the time it takes.
WizardPage DownloadPage(const WizardInputs& in, bool fast) {
    bool bootloader = in.bootloaderSelected != 0;
    WizardPage page;
    page.clearsDownloadRetry = true;
    page.title = fast ? "Download in Progress (115 200)" : "Download in Progress (57 600)";
    if (bootloader) {
        page.first = Fill(fast ? "The %s bootloader is being transferred.  This operation takes up "
                                 "to 30 seconds to complete."
                               : "The %s bootloader is being transferred.  This operation takes up "
                                 "to 1 minute to complete.");
    } else {
        page.first = Fill(fast ? "The %s software is being transferred.  This operation takes up "
                                 "to 7 minutes to complete."
                               : "The %s software is being transferred.  This operation takes up "
                                 "to ? minutes to complete.");
    }
    page.footer = DownloadFooter(bootloader);
    page.back.enabled = false;
    page.next.enabled = false;
    page.slot1Bitmap = IDB_CABLE_ACTIVE;
    return page;
}

WizardPage Page7() {
    WizardPage page;
    page.first = "Please wait while the readout finishes receiving the data.";
    page.back = Button(nullptr, false, false);
    page.next = Button(nullptr, false, false);
    page.slot1Bitmap = IDB_DISPLAY_COUNT;
    return page;
}

WizardPage Page8(const WizardInputs& in) {
    bool bootloader = in.bootloaderSelected != 0;
    WizardPage page;
    page.title = "Download Complete";
    page.first = Fill("Please verify that the number of data bytes transmitted (%ld) matches the "
                      "number of bytes received by the %s.  The %s shows the number in "
                      "parenthesis at the bottom of the display.",
                      in.imageByteCount);
    page.second = Fill(bootloader ? "Press the ENTER key on the %s to restart the unit and install "
                                    "the bootloader."
                                  : "Press the ENTER key on the %s to restart the unit.");
    page.footer = bootloader ? "Press BACK to load the software." : "Press CLOSE to exit this program.";
    page.back = Button("Back", true, true);
    page.next = Button(nullptr, false, false);
    page.slot1Bitmap = IDB_DISPLAY_COUNT;
    page.slot2Bitmap = IDB_ENTER_KEY;
    return page;
}

WizardMove GoTo(int page, Repaint repaint) {
    WizardMove move;
    move.newState = page;
    move.repaint = repaint;
    return move;
}

WizardMove Stay(int page) { return GoTo(page, Repaint::None); }

}  // namespace

WizardPage BuildWizardPage(const WizardInputs& in) {
    switch (in.wizardState) {
        case 1: return Page1(in);
        case 2: return Page2();
        case 3: return Page3(in);
        case 4: return Page4(in);
        case 5: return DownloadPage(in, false);
        case 6: return DownloadPage(in, true);
        case 7: return Page7();
        case 8: return Page8(in);
        default: return WizardPage{};
    }
}

WizardMove NextMove(int state) {
    switch (state) {
        case 1: return GoTo(2, Repaint::EraseBackground);
        case 2: return GoTo(3, Repaint::KeepBackground);
        case 3: {
            WizardMove move = GoTo(4, Repaint::EraseBackground);
            move.bootloaderSelected = 0;
            return move;
        }
        case 4: {
            WizardMove move = GoTo(6, Repaint::EraseBackground);
            move.downloadBaud = serial::kFastDownloadBaud;
            return move;
        }
        default: return Stay(state);  // 5, 6, 7 wait for the download and the unit; 8 has no Next
    }
}

WizardMove BackMove(int state) {
    switch (state) {
        case 2: return GoTo(1, Repaint::EraseBackground);
        case 3: {
            WizardMove move = GoTo(4, Repaint::EraseBackground);
            move.bootloaderSelected = 1;
            return move;
        }
        case 4: {
            WizardMove move = GoTo(5, Repaint::EraseBackground);
            move.downloadBaud = serial::kSlowDownloadBaud;
            return move;
        }
        case 8: {
            WizardMove move = GoTo(3, Repaint::EraseBackground);
            move.downloadRetry = 1;
            return move;
        }
        default: return Stay(state);  // 1 has no Back; 5, 6, 7 wait
    }
}

}  // namespace wizard
