// A keyboard-mode scanner's key map: a code typed on a US layout, Shift included, reads back
// as the label's text; Enter ends it; keys that type nothing are none.
#include <gtest/gtest.h>

#include <linux/input-event-codes.h>

#include <string>

#include "cli/station/KeyboardScanner.h"

TEST(CliKeyboardScanner, AUsKeyMapTypesTheLabelsTextAndEnterEndsTheCode) {
    struct Key {
        unsigned code;
        bool shift;
    };
    const Key typed[] = {{KEY_S, true},  {KEY_N, true},  {KEY_MINUS, false}, {KEY_4, false},
                         {KEY_2, false}, {KEY_A, false}, {KEY_KP7, false},   {KEY_SLASH, true}};
    std::string text;
    for (const Key& key : typed) text += cli::UsKeyCharacter(key.code, key.shift);
    EXPECT_EQ(text, "SN-42a7?");
    EXPECT_EQ(cli::UsKeyCharacter(KEY_ENTER, false), '\r');
    EXPECT_EQ(cli::UsKeyCharacter(KEY_KPENTER, true), '\r');
    EXPECT_EQ(cli::UsKeyCharacter(KEY_LEFTSHIFT, false), 0);
    EXPECT_EQ(cli::UsKeyCharacter(KEY_F1, false), 0);
    EXPECT_TRUE(cli::IsKeyboardScannerName("/dev/input/by-id/usb-Scanner-event-kbd"));
    EXPECT_FALSE(cli::IsKeyboardScannerName("/dev/ttyACM0"));
}
