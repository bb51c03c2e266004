#include "app/PortButtons.h"

#include "app/DialogIds.h"

namespace {

constexpr int kFirstButtonPort = 1;  // Com1 is port 1; Com2..Com4 follow, as do their ids
constexpr int kPortButtonCount = IDC_COM4 - IDC_COM1 + 1;

}  // namespace

int RadioButtonForPort(int portNumber) {
    if (portNumber < kFirstButtonPort || portNumber >= kFirstButtonPort + kPortButtonCount) return 0;
    return IDC_COM1 + portNumber - kFirstButtonPort;
}

int PortForRadioButton(int controlId) {
    const int offset = controlId - IDC_COM1;
    if (offset < 0 || offset >= kPortButtonCount) return 0;
    return kFirstButtonPort + offset;
}
