// The dialog's side of switching ports: the port layer switches, this file tells the operator
// in the log and, when the port cannot be opened, in a box.
#include "app/win/PortChoice.h"

#include "app/Texts.h"
#include "serial/win/CommPort.h"

using common::win::ActivityView;
using common::win::LogLine;
using serial::win::CommPortSwitch;
using serial::win::SavePortId;
using serial::win::SwitchCommPort;

namespace {

constexpr UINT kDefaultBeep = 0;
constexpr const char kOpenFailedText[] =
    "Unable to open the selected com port.  Another device may be using the port.  Select another port.";

}  // namespace

void SelectCommPort(HWND dialog, ActivityView& view, int portNumber) {
    LogLine(view, ERROR_SUCCESS, "Opening Device Com%d ...", portNumber);
    const CommPortSwitch done = SwitchCommPort(portNumber);
    if (done.closedOld) LogLine(view, done.closeError, "Closing current device ...");
    if (done.opened) {
        LogLine(view, ERROR_SUCCESS, "Device Com%d opened successfully.", portNumber);
        return;
    }
    LogLine(view, done.openError, "Unable to open com port.");
    MessageBeep(kDefaultBeep);
    MessageBoxA(dialog, kOpenFailedText, kWindowTitle, MB_OK);
}

void ChoosePort(HWND dialog, ActivityView& view, int portNumber) {
    SelectCommPort(dialog, view, portNumber);
    SavePortId(&view, portNumber);  // remembered whether or not the port opened
}
