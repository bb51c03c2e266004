// The one serial connection to the unit: opening, switching, the remembered port and the
// two overlapped records of the packet link.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "common/win/ActivityView.h"

namespace serial::win {

// The open port, or null. Written only on the UI thread; read afresh by every user.
extern std::atomic<HANDLE> CommPortHandle;
// Reads (comm-event thread only) and writes (UI thread only) of the packet link.
extern OVERLAPPED ReadOverlapped;
extern OVERLAPPED WriteOverlapped;
// Creates the two records' events (start-up step 10), reading one first.
void CreateLinkOverlappedEvents();

// Opens and configures a port; returns null when it cannot be opened.
HANDLE OpenCommPort(int portNumber, uint32_t baudRate, uint8_t byteSize, uint8_t parity, uint8_t stopBits,
                    uint32_t flowFlags);
// What switching the one port did: whether an open port was closed first and the close's
// error, and whether the new one opened, or the error that refused it.
struct CommPortSwitch {
    bool closedOld = false;
    DWORD closeError = ERROR_SUCCESS;
    bool opened = false;
    DWORD openError = ERROR_SUCCESS;
};
// Closes the open port (if any), letting the comm-event thread and the driver let go of it
// first, then opens the given one at 38 400 baud and publishes it.
CommPortSwitch SwitchCommPort(int portNumber);
// Closes the open port at shutdown (WM_DESTROY).
void CloseCommPort();
// Changes the speed of the open port (the port layer's one speed change); results are not
// examined.
void SetCommBaudRate(uint32_t baudRate);

// The remembered port: HKCU "SOFTWARE\Quorvanta\TZ615CommPort", value PortId.
// LoadPortId gives the stored number, 1 when the key had to be created, 0 when the
// registry refused; SavePortId gives the number, or 0 when it could not be stored. A refusal
// is logged in view (when one is given) and left as the thread's last error.
int LoadPortId(common::win::ActivityView* view);
int SavePortId(common::win::ActivityView* view, int portNumber);
// Where the setting lives; tests point it elsewhere. Defaults to the real key.
void SetPortIdLocation(HKEY root, const char* subKey);

}  // namespace serial::win
