// Port-number rules; kept apart from the Win32 glue so they are unit-tested natively.
#include "serial/PortNumber.h"

int StartPortNumber(int remembered) {
    return remembered < kFirstPortNumber ? kFirstPortNumber : remembered;
}

int RadioButtonForPort(int portNumber) {
    if (portNumber < kFirstPortNumber || portNumber >= kFirstPortNumber + kPortButtonCount) return 0;
    return kFirstPortButton + portNumber - kFirstPortNumber;
}

int PortForRadioButton(int controlId) {
    const int offset = controlId - kFirstPortButton;
    if (offset < 0 || offset >= kPortButtonCount) return 0;
    return kFirstPortNumber + offset;
}

std::string CommDeviceName(int portNumber) {
    return "\\\\.\\COM" + std::to_string(portNumber);
}

FlowSettings FlowSettingsFor(uint32_t flowFlags) {
    FlowSettings s{};
    const bool dsr = (flowFlags & kFlowDsrHandshake) != 0;
    const bool cts = (flowFlags & kFlowCtsHandshake) != 0;
    const bool xon = (flowFlags & kFlowXonXoff) != 0;
    s.outxDsrFlow = dsr;
    s.dtr = dsr ? LineControl::Handshake : LineControl::Enable;
    s.outxCtsFlow = cts;
    s.rts = cts ? LineControl::Handshake : LineControl::Enable;
    s.outX = xon;
    s.inX = xon;
    return s;
}
