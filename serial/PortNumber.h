// Port-number rules of the port selection: the remembered number, the device name (the "\\.\" form, which also opens
// COM10 and above) and the flow-flag bits.
#pragma once
#include <cstdint>
#include <string>

namespace serial {

inline constexpr int kFirstPortNumber = 1;

// A remembered number below 1 (0 is also what a failed registry read gives) means COM1.
// There is no upper bound: COM7 is opened as COM7.
int StartPortNumber(int remembered);
// "\\.\COMn".
std::string CommDeviceName(int portNumber);
// The number in a COM port's name as a person types it: "COM7", "com7", "7" or
// "\\.\COM12"; 0 for any other text (a device path, a number out of range).
int ComPortNumber(const std::string& name);

// Flow-flag bits of an open: 1 DSR handshake, 2 CTS handshake, 4 XON/XOFF both ways.
inline constexpr uint32_t kFlowDsrHandshake = 1;
inline constexpr uint32_t kFlowCtsHandshake = 2;
inline constexpr uint32_t kFlowXonXoff = 4;

enum class LineControl { Enable, Handshake };
struct FlowSettings {
    bool outxDsrFlow;
    LineControl dtr;
    bool outxCtsFlow;
    LineControl rts;
    bool outX;
    bool inX;
};
// Other bits are ignored.
FlowSettings FlowSettingsFor(uint32_t flowFlags);

}  // namespace serial
