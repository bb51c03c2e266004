// The wizard's pages and button moves, for the values of DeviceState, BootloaderSelected
// and DownloadRetry that each page reads.
#include "app/WizardPages.h"

#include "app/DialogIds.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace wizard;

namespace {

constexpr std::nullopt_t kKeep = std::nullopt;

struct Control {
    std::optional<std::string> caption;
    std::optional<bool> enabled;
    std::optional<bool> shown;
};

struct PageCase {
    const char* name;
    WizardInputs in;
    const char* title;
    const char* first;
    const char* second;
    const char* footer;
    Control back;
    Control next;
    Control radios;
    int slot1;
    int slot2;
    bool clearsRetry;
};

WizardInputs In(int page, int device = 1, int boot = 0, int retry = 0, long count = 0) {
    return WizardInputs{page, device, boot, retry, count};
}

const Control kUnchanged{kKeep, kKeep, kKeep};
const Control kDisabled{kKeep, false, kKeep};
const Control kGone{kKeep, false, false};

const char kPage3First[] = "On the Varnex 410 select 115 200 for the download speed by pressing the numeric key "
                           "associated with the menu option.";
const char kPage3Retry[] = "If the download failed at 115 200, use the slower 57 600 transfer speed.";
const char kPage3Second[] = "Refer to the menu on the Varnex 410 display.  Check the version of the bootloader.  If it "
                            "is not v1.1.2 or greater then you need to download the bootloader before downloading the "
                            "software.";
const char kPage1Second[] = "Connect a serial cable between the Varnex 410 and a serial port on your PC.  Refer to the "
                            "Varnex 410 user's manual for more information on the cable requirements.";
const char kSoftwareFooter[] = "Downloading software, please wait . . . ";
const char kBootFooter[] = "Downloading bootloader, please wait . . . ";
const char kPage8SoftwareFirst[] =
    "Please verify that the number of data bytes transmitted (4402584) matches the number of "
    "bytes received by the Varnex 410.  The Varnex 410 shows the number in parenthesis at the "
    "bottom of the display.";
const char kPage8BootFirst[] =
    "Please verify that the number of data bytes transmitted (249008) matches the number of "
    "bytes received by the Varnex 410.  The Varnex 410 shows the number in parenthesis at the "
    "bottom of the display.";

const PageCase kPages[] = {
    {"page1_no_port",
     In(1, 0),
     "STEP 1 - Connecting the Serial Cable",
     "Turn the Varnex 410 power switch to the OFF position.",
     kPage1Second,
     "The COM port is not open.  Select the correct port below.",
     {"Back", false, kKeep},
     {"Next", false, kKeep},
     {kKeep, true, true},
     IDB_SWITCH_OFF,
     IDB_CABLE,
     false},
    {"page1_port_open",
     In(1, 1),
     "STEP 1 - Connecting the Serial Cable",
     "Turn the Varnex 410 power switch to the OFF position.",
     kPage1Second,
     "When the cable is connected, press NEXT",
     {"Back", false, kKeep},
     {"Next", true, kKeep},
     {kKeep, true, true},
     IDB_SWITCH_OFF,
     IDB_CABLE,
     false},
    {"page1_ready_is_not_state_1",
     In(1, 2),
     "STEP 1 - Connecting the Serial Cable",
     "Turn the Varnex 410 power switch to the OFF position.",
     kPage1Second,
     "When the cable is connected, press NEXT",
     {"Back", false, kKeep},
     {"Next", false, kKeep},
     {kKeep, true, true},
     IDB_SWITCH_OFF,
     IDB_CABLE,
     false},
    {"page2",
     In(2, 0),
     "STEP 2 - Readying the Varnex 410",
     "Press and hold the \"C\" key on the Varnex 410 keypad.",
     "While holding the \"C\" key, turn the Varnex 410 power switch to the ON position.  Wait 2 "
     "seconds and release the \"C\" key.",
     "When the Varnex 410's Bootloader menu appears, press NEXT.",
     {"Back", true, kKeep},
     {"Next", true, kKeep},
     {kKeep, false, false},
     IDB_C_KEY,
     IDB_SWITCH_ON,
     false},
    {"page3",
     In(3, 2),
     "STEP 3 - Preparing the Varnex 410 for Download",
     kPage3First,
     kPage3Second,
     "Select \"Bootloader\", or \"Software\".",
     {"Bootloader", true, true},
     {"Software", true, true},
     kUnchanged,
     IDB_KEY_ONE,
     IDB_MENU_DISPLAY,
     false},
    {"page3_retry_after_software",
     In(3, 1, 0, 1),
     "STEP 3 - Preparing the Varnex 410 for Download",
     kPage3Retry,
     kPage3Second,
     "Select \"Bootloader\", or \"Software\".",
     {"Bootloader", true, true},
     {"Software", true, true},
     kUnchanged,
     IDB_KEY_ONE,
     IDB_MENU_DISPLAY,
     false},
    {"page3_retry_after_bootloader",
     In(3, 1, 1, 1),
     "STEP 3 - Preparing the Varnex 410 for Download",
     kPage3First,
     kPage3Second,
     "Select \"Bootloader\", or \"Software\".",
     {"Bootloader", true, true},
     {"Software", true, true},
     kUnchanged,
     IDB_KEY_ONE,
     IDB_MENU_DISPLAY,
     false},
    {"page4_waiting",
     In(4, 1),
     "STEP 4 - Downloading the Software",
     "Please wait ...",
     "",
     "",
     {"57 600", false, true},
     {"115 200", false, true},
     kUnchanged,
     IDB_MENU_DISPLAY,
     0,
     false},
    {"page4_no_port",
     In(4, 0, 1),
     "STEP 4 - Downloading the Bootloader",
     "Please wait ...",
     "",
     "",
     {"57 600", false, true},
     {"115 200", false, true},
     kUnchanged,
     IDB_MENU_DISPLAY,
     0,
     false},
    {"page4_ready",
     In(4, 2, 1),
     "STEP 4 - Downloading the Bootloader",
     "The Varnex 410 is ready to receive the download.",
     "Start the download by clicking the button below which matches the Varnex 410's download "
     "speed.",
     "Select the download speed.",
     {"57 600", true, true},
     {"115 200", true, true},
     kUnchanged,
     IDB_MENU_DISPLAY,
     0,
     false},
    {"page5_software", In(5, 2, 0, 1), "Download in Progress (57 600)",
     "The Varnex 410 software is being transferred.  This operation takes up to ? minutes to "
     "complete.",
     "", kSoftwareFooter, kDisabled, kDisabled, kUnchanged, IDB_CABLE_ACTIVE, 0, true},
    {"page5_bootloader", In(5, 2, 1), "Download in Progress (57 600)",
     "The Varnex 410 bootloader is being transferred.  This operation takes up to 1 minute to "
     "complete.",
     "", kBootFooter, kDisabled, kDisabled, kUnchanged, IDB_CABLE_ACTIVE, 0, true},
    {"page6_software", In(6, 2), "Download in Progress (115 200)",
     "The Varnex 410 software is being transferred.  This operation takes up to 7 minutes to "
     "complete.",
     "", kSoftwareFooter, kDisabled, kDisabled, kUnchanged, IDB_CABLE_ACTIVE, 0, true},
    {"page6_bootloader", In(6, 2, 1), "Download in Progress (115 200)",
     "The Varnex 410 bootloader is being transferred.  This operation takes up to 30 seconds to "
     "complete.",
     "", kBootFooter, kDisabled, kDisabled, kUnchanged, IDB_CABLE_ACTIVE, 0, true},
    {"page7", In(7, 2, 1), "", "Please wait while the readout finishes receiving the data.", "", "", kGone, kGone,
     kUnchanged, IDB_DISPLAY_COUNT, 0, false},
    {"page8_software",
     In(8, 1, 0, 0, 4402584),
     "Download Complete",
     kPage8SoftwareFirst,
     "Press the ENTER key on the Varnex 410 to restart the unit.",
     "Press CLOSE to exit this program.",
     {"Back", true, true},
     kGone,
     kUnchanged,
     IDB_DISPLAY_COUNT,
     IDB_ENTER_KEY,
     false},
    {"page8_bootloader",
     In(8, 1, 1, 0, 249008),
     "Download Complete",
     kPage8BootFirst,
     "Press the ENTER key on the Varnex 410 to restart the unit and install the bootloader.",
     "Press BACK to load the software.",
     {"Back", true, true},
     kGone,
     kUnchanged,
     IDB_DISPLAY_COUNT,
     IDB_ENTER_KEY,
     false},
};

void ExpectControl(const ControlState& got, const Control& want, const char* which) {
    EXPECT_EQ(got.caption, want.caption) << which;
    EXPECT_EQ(got.enabled, want.enabled) << which;
    EXPECT_EQ(got.shown, want.shown) << which;
}

class WizardPageTable : public testing::TestWithParam<PageCase> {};

TEST_P(WizardPageTable, TextsControlsAndPictures) {
    const PageCase& c = GetParam();
    WizardPage page = BuildWizardPage(c.in);
    EXPECT_EQ(page.title, c.title);
    EXPECT_EQ(page.first, c.first);
    EXPECT_EQ(page.second, c.second);
    EXPECT_EQ(page.footer, c.footer);
    ExpectControl(page.back, c.back, "back");
    ExpectControl(page.next, c.next, "next");
    ExpectControl(page.radios, c.radios, "radios");
    EXPECT_EQ(page.slot1Bitmap, c.slot1);
    EXPECT_EQ(page.slot2Bitmap, c.slot2);
    EXPECT_EQ(page.clearsDownloadRetry, c.clearsRetry);
}

INSTANTIATE_TEST_SUITE_P(EveryPage, WizardPageTable, testing::ValuesIn(kPages),
                         [](const testing::TestParamInfo<PageCase>& info) { return std::string(info.param.name); });

TEST(WizardPages, PagesThatDoNotReadAValueIgnoreIt) {
    // Pages 2, 3, 5 to 8 do not depend on DeviceState; page 8 shows whatever count it is given.
    for (int page : {2, 3, 5, 6, 7, 8}) {
        WizardPage a = BuildWizardPage(In(page, 0, 0, 0, 7));
        WizardPage b = BuildWizardPage(In(page, 2, 0, 0, 7));
        EXPECT_EQ(a.first, b.first) << page;
        EXPECT_EQ(a.next.enabled, b.next.enabled) << page;
    }
    EXPECT_NE(BuildWizardPage(In(8, 1, 0, 0, 0)).first.find("transmitted (0)"), std::string::npos);
}

TEST(WizardPages, AnUnknownPageChangesNoControlAndDrawsNothing) {
    for (int page : {0, 9, -1}) {
        WizardPage p = BuildWizardPage(In(page));
        EXPECT_FALSE(p.back.enabled.has_value());
        EXPECT_FALSE(p.next.shown.has_value());
        EXPECT_FALSE(p.radios.enabled.has_value());
        EXPECT_EQ(p.slot1Bitmap, 0);
        EXPECT_EQ(p.slot2Bitmap, 0);
    }
}

struct MoveCase {
    int page;
    bool next;  // false: Back
    int newPage;
    Repaint repaint;
    std::optional<int> boot;
    std::optional<int> retry;
    unsigned baud;
};

TEST(WizardMoves, NextAndBackOnEveryPage) {
    const MoveCase cases[] = {
        {1, true, 2, Repaint::EraseBackground, kKeep, kKeep, 0},
        {1, false, 1, Repaint::None, kKeep, kKeep, 0},
        {2, true, 3, Repaint::KeepBackground, kKeep, kKeep, 0},
        {2, false, 1, Repaint::EraseBackground, kKeep, kKeep, 0},
        {3, true, 4, Repaint::EraseBackground, 0, kKeep, 0},
        {3, false, 4, Repaint::EraseBackground, 1, kKeep, 0},
        {4, true, 6, Repaint::EraseBackground, kKeep, kKeep, 115200},
        {4, false, 5, Repaint::EraseBackground, kKeep, kKeep, 57600},
        {5, true, 5, Repaint::None, kKeep, kKeep, 0},
        {5, false, 5, Repaint::None, kKeep, kKeep, 0},
        {6, true, 6, Repaint::None, kKeep, kKeep, 0},
        {6, false, 6, Repaint::None, kKeep, kKeep, 0},
        {7, true, 7, Repaint::None, kKeep, kKeep, 0},
        {7, false, 7, Repaint::None, kKeep, kKeep, 0},
        {8, true, 8, Repaint::None, kKeep, kKeep, 0},
        {8, false, 3, Repaint::EraseBackground, kKeep, 1, 0},
    };
    for (const MoveCase& c : cases) {
        WizardMove m = c.next ? NextMove(c.page) : BackMove(c.page);
        SCOPED_TRACE(testing::Message() << "page " << c.page << (c.next ? " Next" : " Back"));
        EXPECT_EQ(m.newState, c.newPage);
        EXPECT_EQ(m.repaint, c.repaint);
        EXPECT_EQ(m.bootloaderSelected, c.boot);
        EXPECT_EQ(m.downloadRetry, c.retry);
        EXPECT_EQ(m.downloadBaud, c.baud);
    }
}

}  // namespace
