// Opening, configuring and switching the one COM port. The handle is published in an
// atomic that other threads read afresh; switching publishes null before the old close.
#include "serial/win/CommPort.h"

#include "app/win/ActivityLog.h"
#include "common/Texts.h"
#include "common/win/Handles.h"
#include "serial/PortNumber.h"

std::atomic<HANDLE> CommPortHandle{nullptr};
OVERLAPPED ReadOverlapped{};
OVERLAPPED WriteOverlapped{};

namespace {

constexpr uint32_t kLinkBaudRate = 38400;
constexpr uint8_t kLinkByteSize = 8;
constexpr uint8_t kLinkParity = ODDPARITY;
constexpr uint8_t kLinkStopBits = ONESTOPBIT;
constexpr uint32_t kLinkFlowFlags = 0;
constexpr char kXonChar = 17;   // DC1
constexpr char kXoffChar = 19;  // DC3
constexpr WORD kXonLimBytes = 100;
constexpr WORD kXoffLimBytes = 100;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// Lets the comm-event thread, woken by the mask reset, see the null handle before the
// close, and the driver settle before the next open.
constexpr DWORD kSwitchPauseMs = 250;

constexpr const char kOpenFailedText[] =
    "Unable to open the selected com port.  Another device may be using the port.  Select another port.";

DWORD ControlValue(LineControl control, DWORD enable, DWORD handshake) {
    return control == LineControl::Handshake ? handshake : enable;
}

}  // namespace

void CreateLinkOverlappedEvents() {
    // Both events live for the rest of the process, so ownership is given up on purpose.
    ReadOverlapped.hEvent = MakeAutoResetEvent().Release();
    WriteOverlapped.hEvent = MakeAutoResetEvent().Release();
}

HANDLE OpenCommPort(int portNumber, uint32_t baudRate, uint8_t byteSize, uint8_t parity, uint8_t stopBits,
                    uint32_t flowFlags) {
    const std::string device = CommDeviceName(portNumber);
    HANDLE port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) return nullptr;

    // The configuration results are not examined: a port that refuses a setting still
    // counts as open.
    SetCommMask(port, EV_RXCHAR);
    PurgeComm(port, kPurgeAll);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = baudRate;
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    const FlowSettings flow = FlowSettingsFor(flowFlags);
    dcb.fOutxDsrFlow = flow.outxDsrFlow;
    dcb.fDtrControl = ControlValue(flow.dtr, DTR_CONTROL_ENABLE, DTR_CONTROL_HANDSHAKE);
    dcb.fOutxCtsFlow = flow.outxCtsFlow;
    dcb.fRtsControl = ControlValue(flow.rts, RTS_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE);
    dcb.fOutX = flow.outX;
    dcb.fInX = flow.inX;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.XonChar = kXonChar;
    dcb.XoffChar = kXoffChar;
    dcb.XonLim = kXonLimBytes;
    dcb.XoffLim = kXoffLimBytes;
    SetCommState(port, &dcb);
    EscapeCommFunction(port, SETDTR);
    return port;
}

void SelectCommPort(HWND dialog, int portNumber) {
    LogMessage(dialog, 0, "Opening Device Com%d ...", portNumber);

    HANDLE old = CommPortHandle.exchange(nullptr);
    if (old != nullptr) {
        SetCommMask(old, EV_RXCHAR);  // ends a comm-event wait in progress on it
        Sleep(kSwitchPauseMs);
        SetLastError(0);  // so a close that succeeds logs no stale error text
        UniqueFileHandle closing(old);
        closing.Reset();
        LogMessage(dialog, GetLastError(), "Closing current device ...");
        Sleep(kSwitchPauseMs);
    }

    HANDLE port = OpenCommPort(portNumber, kLinkBaudRate, kLinkByteSize, kLinkParity, kLinkStopBits, kLinkFlowFlags);
    DWORD openError = GetLastError();
    CommPortHandle.store(port);
    if (port != nullptr) {
        LogMessage(dialog, 0, "Device Com%d opened successfully.", portNumber);
        return;
    }
    LogMessage(dialog, openError, "Unable to open com port.");
    MessageBeep(0);
    MessageBoxA(dialog, kOpenFailedText, kWindowTitle, MB_OK);
}

void CloseCommPort() {
    // The owner closes it on leaving; a null (no port open) is left alone.
    UniqueFileHandle port(CommPortHandle.exchange(nullptr));
}

void SetCommBaudRate(uint32_t baudRate) {
    HANDLE port = CommPortHandle.load();
    if (port == nullptr) return;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = baudRate;
    SetCommState(port, &dcb);
}
