// Port-number rules; kept apart from the Win32 glue so they are unit-tested natively.
#include "serial/PortNumber.h"

#include <algorithm>
#include <cctype>

namespace serial {

int StartPortNumber(int remembered) { return remembered < kFirstPortNumber ? kFirstPortNumber : remembered; }

std::string CommDeviceName(int portNumber) { return "\\\\.\\COM" + std::to_string(portNumber); }

int ComPortNumber(const std::string& name) {
    static const std::string kDevicePrefix = "\\\\.\\";
    static const std::string kComPrefix = "COM";
    constexpr size_t kMaxDigits = 3;
    constexpr int kMaxPortNumber = 255;  // Windows numbers COM ports up to 255
    std::string rest = name;
    const bool device = rest.compare(0, kDevicePrefix.size(), kDevicePrefix) == 0;
    if (device) rest.erase(0, kDevicePrefix.size());
    std::string head = rest.substr(0, kComPrefix.size());
    std::transform(head.begin(), head.end(), head.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    if (head == kComPrefix) {
        rest.erase(0, kComPrefix.size());
    } else if (device) {
        return 0;  // a device name that is no COM port
    }
    if (rest.empty() || rest.size() > kMaxDigits) return 0;
    if (!std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; })) return 0;
    const int number = std::stoi(rest);
    return number >= kFirstPortNumber && number <= kMaxPortNumber ? number : 0;
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

}  // namespace serial
