// Port-number rules: the start port, the device name and the flow flags.
#include <gtest/gtest.h>

#include "serial/PortNumber.h"

using serial::CommDeviceName;
using serial::ComPortNumber;
using serial::FlowSettings;
using serial::FlowSettingsFor;
using serial::kFlowCtsHandshake;
using serial::kFlowDsrHandshake;
using serial::kFlowXonXoff;
using serial::LineControl;
using serial::StartPortNumber;

namespace {

TEST(PortNumber, RememberedNumberBelowOneMeansCom1AndNoUpperBound) {
    EXPECT_EQ(StartPortNumber(0), 1);   // also what a failed registry read gives
    EXPECT_EQ(StartPortNumber(-1), 1);  // a stored 0xFFFFFFFF
    EXPECT_EQ(StartPortNumber(1), 1);
    EXPECT_EQ(StartPortNumber(3), 3);
    EXPECT_EQ(StartPortNumber(7), 7);
}

TEST(PortNumber, DeviceNameReachesTwoDigitPorts) {
    EXPECT_EQ(CommDeviceName(1), "\\\\.\\COM1");
    EXPECT_EQ(CommDeviceName(12), "\\\\.\\COM12");
}

TEST(PortNumber, FlowFlagsSwitchEachHandshakeAndIgnoreOtherBits) {
    FlowSettings none = FlowSettingsFor(0);
    EXPECT_FALSE(none.outxDsrFlow);
    EXPECT_FALSE(none.outxCtsFlow);
    EXPECT_EQ(none.dtr, LineControl::Enable);
    EXPECT_EQ(none.rts, LineControl::Enable);
    EXPECT_FALSE(none.outX || none.inX);

    FlowSettings dsr = FlowSettingsFor(kFlowDsrHandshake | 0x80);
    EXPECT_TRUE(dsr.outxDsrFlow);
    EXPECT_EQ(dsr.dtr, LineControl::Handshake);
    EXPECT_FALSE(dsr.outxCtsFlow);
    EXPECT_EQ(dsr.rts, LineControl::Enable);

    FlowSettings cts = FlowSettingsFor(kFlowCtsHandshake);
    EXPECT_TRUE(cts.outxCtsFlow);
    EXPECT_EQ(cts.rts, LineControl::Handshake);
    EXPECT_EQ(cts.dtr, LineControl::Enable);

    FlowSettings xon = FlowSettingsFor(kFlowXonXoff);
    EXPECT_TRUE(xon.outX && xon.inX);
    EXPECT_FALSE(xon.outxDsrFlow || xon.outxCtsFlow);
}

TEST(PortNumber, ComNamesAsPeopleTypeThemAndNothingElse) {
    const std::pair<const char*, int> cases[] = {
        {"COM7", 7},         {"com7", 7},   {"7", 7},   {"\\\\.\\COM12", 12}, {"COM255", 255},
        {"COM0", 0},         {"COM256", 0}, {"COM", 0}, {"COM7x", 0},         {"/dev/ttyUSB0", 0},
        {"\\\\.\\pipe7", 0}, {"", 0},       {"-3", 0},  {"0007", 0},
    };
    for (const auto& [name, number] : cases) EXPECT_EQ(ComPortNumber(name), number) << name;
}

}  // namespace
