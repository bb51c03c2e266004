// Scanned codes: which may be serials, and how a station-wide scanner pairs a fixture's
// label with the unit's code. How a port's cycle uses the slot is in the port cycle's tests.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "station/ScanPairing.h"

namespace {

std::unique_ptr<station::CodeCheck> Check(const std::string& pattern = station::kDefaultSerialPattern) {
    std::unique_ptr<station::CodeCheck> check;
    std::string error;
    EXPECT_TRUE(station::CodeCheck::Make(pattern, &check, &error)) << error;
    return check;
}

std::string LastNotice(station::ScanSlot& slot) {
    const std::vector<std::string> notices = slot.Notices();
    return notices.empty() ? "" : notices.back();
}

}  // namespace

// Every kind of bad code is refused with its reason, is never held for a unit, and leaves a
// serial scanned before it in place.
TEST(StationScanPairing, BadCodesAreRefusedWithTheirReasonAndNeverTaken) {
    auto check = Check();
    struct Case {
        std::string code;
        const char* reason;
    };
    const Case cases[] = {
        {std::string("AB\x1b[2J", 6), "refused the scan \"AB?[2J\": it holds control characters"},
        {std::string("A\0B", 3), "control characters"},
        {"A\x7f", "control characters"},
        {std::string(station::kMaxCodeLength + 1, 'A'), "refused a scan of more than 128 characters"},
        {std::string(41, 'A'), "refused the scan \"AAAAAAAAAAAAAAAAAAAAAAAA...\": not a serial"},
        {"SN 12", "not a serial (serial_pattern [A-Za-z0-9-]{1,40})"},
        {"\xc3\xa9t\xc3\xa9", "refused the scan \"??t??\": not a serial"},
        {"", "refused an empty scan"},
    };
    station::ScanSlot slot(*check);
    ASSERT_TRUE(slot.Offer("GOOD-1"));
    slot.Notices();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        EXPECT_FALSE(slot.Offer(c.code));
        EXPECT_NE(LastNotice(slot).find(c.reason), std::string::npos);
    }
    EXPECT_EQ(slot.Take(), "GOOD-1");
    EXPECT_EQ(slot.Take(), "");

    std::unique_ptr<station::CodeCheck> broken;
    std::string error;
    EXPECT_FALSE(station::CodeCheck::Make("[A-Z", &broken, &error));
    EXPECT_NE(error.find("\"[A-Z\" is not a regular expression"), std::string::npos) << error;
    EXPECT_EQ(Check("SN[0-9]{4}")->Refusal("SN0042"), "");
}

TEST(StationScanPairing, TheLatestScanIsTheOneTakenAndTheSlotSaysWhatItReplaced) {
    auto check = Check();
    station::ScanSlot slot(*check);
    EXPECT_FALSE(slot.Holding());
    slot.Offer("A1");
    slot.Offer("A1");
    slot.Offer("B2");
    slot.Tell("scanner lost");
    EXPECT_TRUE(slot.Holding());
    EXPECT_EQ(slot.Notices(), (std::vector<std::string>{"SN A1 scanned for the next unit", "SN A1 scanned again",
                                                        "SN B2 scanned: replaces SN A1", "scanner lost"}));
    EXPECT_TRUE(slot.Notices().empty());
    EXPECT_EQ(slot.Take(), "B2");
    EXPECT_FALSE(slot.Holding());
}

// The station's scanner: a fixture's label, then the unit's code for it. A unit with no
// fixture chosen is refused; a refused code keeps the fixture chosen; each unit needs its
// fixture scanned again.
TEST(StationScanPairing, AStationScannerPairsAFixtureLabelWithTheNextUnitCode) {
    auto check = Check();
    station::ScanSlot f1(*check), f2(*check);
    station::StationScanner scanner({{"F01", &f1}, {"F02", &f2}}, *check);

    scanner.Scanned("U100");
    EXPECT_FALSE(f1.Holding());
    EXPECT_EQ(LastNotice(f1), "refused SN U100: scan the fixture's label first");

    scanner.Scanned("F02");
    EXPECT_EQ(LastNotice(f2), "fixture F02 chosen: scan the unit's label");
    scanner.Scanned("U 101");
    EXPECT_NE(LastNotice(f2).find("not a serial"), std::string::npos);
    scanner.Scanned("U101");
    EXPECT_EQ(f2.Take(), "U101");
    EXPECT_FALSE(f1.Holding());

    scanner.Scanned("U102");  // no fixture chosen again: told where the operator last was
    EXPECT_EQ(LastNotice(f2), "refused SN U102: scan the fixture's label first");
    EXPECT_FALSE(f2.Holding());

    scanner.Scanned("F01");
    scanner.Scanned("F02");  // the operator changed their mind
    scanner.Scanned("U103");
    EXPECT_FALSE(f1.Holding());
    EXPECT_EQ(f2.Take(), "U103");

    scanner.Tell("scanner lost");
    EXPECT_EQ(LastNotice(f1), "scanner lost");
    EXPECT_EQ(LastNotice(f2), "scanner lost");
}
