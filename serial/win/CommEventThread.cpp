// The comm-event thread: waits for received characters, drains them in chunks of up to 511
// bytes into the packet receiver (and, when asked, the raw-data log), and the overlapped
// read and write helpers. Failed waits back off instead of spinning while a device is gone.
#include "serial/win/CommEventThread.h"

#include <cstdio>

#include "common/win/ActivityLog.h"
#include "common/win/Handles.h"
#include "link/win/PacketLink.h"
#include "serial/CommWaitBackoff.h"
#include "serial/RawDataLine.h"
#include "serial/win/CommPort.h"

std::atomic<int> RawDataLogging{0};
std::atomic<int> CommThreadStop{0};
unsigned char ReceiveChunk[512];
std::atomic<ReceivedBytesTap> ReceivedBytesHook{nullptr};

namespace {

constexpr DWORD kNoPortPollMs = 500;
constexpr UINT kDefaultBeep = 0;
constexpr DWORD kThreadExitCode = 1;
constexpr size_t kEventLineSize = 64;
static_assert(sizeof ReceiveChunk > kMaxChunkBytes, "room for the zero after a full chunk");

// The comm-event thread's line buffer, wide enough for the longest raw-data line.
char LineBuffer[kRawDataLineCapacity];

void ClearPortErrors(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(port, &errors, &status);
}

// Waits for one comm event on port; false when the wait failed.
bool WaitForCommEvent(HANDLE port, OVERLAPPED* overlapped, DWORD* mask) {
    *mask = 0;
    if (WaitCommEvent(port, mask, overlapped)) return true;
    if (GetLastError() != ERROR_IO_PENDING) return false;
    DWORD transferred = 0;
    for (;;) {
        if (GetOverlappedResult(port, overlapped, &transferred, TRUE)) return true;
        if (GetLastError() != ERROR_IO_INCOMPLETE) return false;
    }
}

void WatchPort(HWND dialog, HANDLE port, OVERLAPPED* overlapped, CommWaitBackoff& backoff) {
    DWORD mask = 0;
    if (!WaitForCommEvent(port, overlapped, &mask)) {
        ClearPortErrors(port);
        const WaitFailureAction action = backoff.OnFailure();
        if (action.beep) MessageBeep(kDefaultBeep);
        if (action.pauseMs > 0) Sleep(action.pauseMs);
        return;
    }
    backoff.OnSuccess();
    if (mask == 0) return;  // the mask was reset (a port switch) while the wait ran
    if (mask & EV_RXCHAR) {
        DrainCommInput(dialog);
        return;
    }
    char line[kEventLineSize];
    std::snprintf(line, sizeof line, "WaitCommEvent dwEvtMask: %d", static_cast<int>(mask));
    AppendLogLine(dialog, line);
}

}  // namespace

DWORD WINAPI CommEventThread(LPVOID parameter) {
    HWND dialog = static_cast<HWND>(parameter);
    UniqueNullHandle event = MakeAutoResetEvent();
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.Get();
    CommWaitBackoff backoff;
    HANDLE watched = nullptr;
    while (!CommThreadStop.load()) {
        HANDLE port = CommPortHandle.load();
        if (port == nullptr) {
            Sleep(kNoPortPollMs);
            continue;
        }
        if (port != watched) {  // a new port starts with a clean failure count
            watched = port;
            backoff.OnSuccess();
        }
        WatchPort(dialog, port, &overlapped, backoff);
    }
    return kThreadExitCode;
}

void DrainCommInput(HWND dialog) {
    for (;;) {
        const int count = ReadCommBytes(ReceiveChunk, static_cast<int>(kMaxChunkBytes));
        if (count <= 0) return;
        if (ReceivedBytesTap tap = ReceivedBytesHook.load()) tap(ReceiveChunk, count);
        RS232_ReceiveBytes(dialog, count);
        if (RawDataLogging.load()) {
            // Made after the receiver has consumed the chunk: the bytes exactly as received.
            FormatRawDataLine(ReceiveChunk, static_cast<size_t>(count), LineBuffer, sizeof LineBuffer);
            ReceiveChunk[count] = 0;
            AppendLogLine(dialog, LineBuffer);
        }
    }
}

int ReadCommBytes(unsigned char* buffer, int maximum) {
    HANDLE port = CommPortHandle.load();
    if (port == nullptr || maximum <= 0) return 0;
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(port, &errors, &status);
    const DWORD wanted = status.cbInQue < static_cast<DWORD>(maximum) ? status.cbInQue
                                                                      : static_cast<DWORD>(maximum);
    if (wanted == 0) return 0;
    DWORD read = 0;
    if (ReadFile(port, buffer, wanted, &read, &ReadOverlapped)) return static_cast<int>(read);
    if (GetLastError() != ERROR_IO_PENDING) {
        ClearPortErrors(port);
        return 0;
    }
    for (;;) {
        if (GetOverlappedResult(port, &ReadOverlapped, &read, TRUE)) return static_cast<int>(read);
        if (GetLastError() != ERROR_IO_INCOMPLETE) break;
    }
    ClearPortErrors(port);
    return static_cast<int>(read);
}

void WaitCommWrite(OVERLAPPED* record) {
    HANDLE port = CommPortHandle.load();
    if (GetLastError() == ERROR_IO_PENDING) {
        DWORD written = 0;
        for (;;) {
            if (GetOverlappedResult(port, record, &written, TRUE)) return;
            if (GetLastError() != ERROR_IO_INCOMPLETE) break;
        }
    }
    ClearPortErrors(port);
}
