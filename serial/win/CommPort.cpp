// Opening, configuring and switching the one COM port. The handle is published in an
// atomic that other threads read afresh; switching publishes null before the old close.
#include "serial/win/CommPort.h"

#include "common/win/Handles.h"
#include "serial/PortNumber.h"
#include "serial/SerialPort.h"
#include "serial/win/PortIo.h"

namespace serial::win {

std::atomic<HANDLE> CommPortHandle{nullptr};
OVERLAPPED ReadOverlapped{};
OVERLAPPED WriteOverlapped{};

namespace {

using common::win::MakeAutoResetEvent;
using common::win::UniqueFileHandle;

// Lets the comm-event thread, woken by the mask reset, see the null handle before the
// close, and the driver settle before the next open.
constexpr DWORD kSwitchPauseMs = 250;

}  // namespace

void CreateLinkOverlappedEvents() {
    // Both events live for the rest of the process, so ownership is given up on purpose.
    ReadOverlapped.hEvent = MakeAutoResetEvent().Release();
    WriteOverlapped.hEvent = MakeAutoResetEvent().Release();
}

HANDLE OpenCommPort(int portNumber, uint32_t baudRate, uint8_t byteSize, uint8_t parity, uint8_t stopBits,
                    uint32_t flowFlags) {
    HANDLE port = OpenDevice(CommDeviceName(portNumber));
    if (port == INVALID_HANDLE_VALUE) return nullptr;
    // The configuration results are not examined: a port that refuses a setting still
    // counts as open.
    ConfigureDevice(port, baudRate, byteSize, parity, stopBits, flowFlags);
    return port;
}

CommPortSwitch SwitchCommPort(int portNumber) {
    CommPortSwitch done;
    HANDLE old = CommPortHandle.exchange(nullptr);
    if (old != nullptr) {
        ResetCommMask(old);  // ends a comm-event wait in progress on it
        Sleep(kSwitchPauseMs);
        SetLastError(ERROR_SUCCESS);  // so a close that succeeds reports no stale error
        UniqueFileHandle closing(old);
        closing.Reset();
        done.closedOld = true;
        done.closeError = GetLastError();
        Sleep(kSwitchPauseMs);
    }

    HANDLE port = OpenCommPort(portNumber, kLinkBaudRate, kLinkByteSize, kLinkParity, kLinkStopBits, kLinkFlowFlags);
    done.openError = GetLastError();
    CommPortHandle.store(port);
    done.opened = port != nullptr;
    if (done.opened) done.openError = ERROR_SUCCESS;
    return done;
}

void CloseCommPort() {
    // The owner closes it on leaving; a null (no port open) is left alone.
    UniqueFileHandle port(CommPortHandle.exchange(nullptr));
}

void SetCommBaudRate(uint32_t baudRate) {
    HANDLE port = CommPortHandle.load();
    if (port != nullptr) static_cast<void>(SetDeviceBaudRate(port, baudRate));
}

}  // namespace serial::win
