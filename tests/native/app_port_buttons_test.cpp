// The dialog's port radio buttons and the ports they stand for.
#include <gtest/gtest.h>

#include "app/PortButtons.h"
#include "app/DialogIds.h"

namespace {

TEST(PortButtons, RadioButtonForEachPort) {
    EXPECT_EQ(RadioButtonForPort(1), IDC_COM1);
    EXPECT_EQ(RadioButtonForPort(2), IDC_COM2);
    EXPECT_EQ(RadioButtonForPort(3), IDC_COM3);
    EXPECT_EQ(RadioButtonForPort(4), IDC_COM4);
    EXPECT_EQ(RadioButtonForPort(5), 0);  // opened as COM5, no button claims it
    EXPECT_EQ(RadioButtonForPort(7), 0);
    EXPECT_EQ(RadioButtonForPort(0), 0);
}

TEST(PortButtons, RadioButtonsSelectPortsOneToFourOnly) {
    EXPECT_EQ(PortForRadioButton(IDC_COM1), 1);
    EXPECT_EQ(PortForRadioButton(IDC_COM4), 4);
    EXPECT_EQ(PortForRadioButton(IDC_COM1 - 1), 0);
    EXPECT_EQ(PortForRadioButton(IDC_COM4 + 1), 0);  // erase flash, not a port
}

}  // namespace
