// The comm-event thread: waits for received characters, drains them in chunks of up to 511
// bytes into the installed sink (and, when asked, the raw-data log), and the overlapped
// write wait. Failed waits back off instead of spinning while a device is gone.
#include "serial/win/CommEventThread.h"

#include <memory>
#include <string>

#include "common/win/Handles.h"
#include "serial/CommWaitBackoff.h"
#include "serial/RawDataLine.h"
#include "serial/win/CommPort.h"
#include "serial/win/PortIo.h"

std::atomic<int> RawDataLogging{0};
std::atomic<int> CommThreadStop{0};
std::atomic<ReceivedBytesTap> ReceivedBytesHook{nullptr};

namespace {

constexpr DWORD kNoPortPollMs = 500;
constexpr UINT kDefaultBeep = 0;
constexpr DWORD kThreadExitCode = 1;

// What the thread reports to; owned by the thread once it runs.
struct CommEventTargets {
    ReceivedBytesSink& bytes;
    ActivityView& view;
};

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

// Reads up to maximum of the bytes already queued on the open port; 0 when there are none
// or the read failed.
int ReadCommBytes(uint8_t* buffer, int maximum) {
    HANDLE port = CommPortHandle.load();
    if (port == nullptr || maximum <= 0) return 0;
    COMSTAT status{};
    serial::win::ClearPortErrors(port, &status);
    const DWORD wanted = status.cbInQue < static_cast<DWORD>(maximum) ? status.cbInQue : static_cast<DWORD>(maximum);
    if (wanted == 0) return 0;
    DWORD read = 0;
    if (ReadFile(port, buffer, wanted, &read, &ReadOverlapped)) return static_cast<int>(read);
    if (GetLastError() != ERROR_IO_PENDING) {
        serial::win::ClearPortErrors(port);
        return 0;
    }
    for (;;) {
        if (GetOverlappedResult(port, &ReadOverlapped, &read, TRUE)) return static_cast<int>(read);
        if (GetLastError() != ERROR_IO_INCOMPLETE) break;
    }
    serial::win::ClearPortErrors(port);
    return static_cast<int>(read);
}

void DrainCommInput(const CommEventTargets& targets) {
    uint8_t chunk[kMaxChunkBytes];
    for (;;) {
        const int count = ReadCommBytes(chunk, static_cast<int>(sizeof chunk));
        if (count <= 0) return;
        if (ReceivedBytesTap tap = ReceivedBytesHook.load()) tap(chunk, count);
        targets.bytes.Receive(chunk, static_cast<size_t>(count));
        if (RawDataLogging.load()) {
            // Made after the sink has taken the chunk: the bytes exactly as received.
            char line[kRawDataLineCapacity];
            FormatRawDataLine(chunk, static_cast<size_t>(count), line, sizeof line);
            targets.view.AddLine(line);
        }
    }
}

void WatchPort(const CommEventTargets& targets, HANDLE port, OVERLAPPED* overlapped, CommWaitBackoff& backoff) {
    DWORD mask = 0;
    if (!WaitForCommEvent(port, overlapped, &mask)) {
        serial::win::ClearPortErrors(port);
        const WaitFailureAction action = backoff.OnFailure();
        if (action.beep) MessageBeep(kDefaultBeep);
        if (action.pauseMs > 0) Sleep(action.pauseMs);
        return;
    }
    backoff.OnSuccess();
    if (mask == 0) return;  // the mask was reset (a port switch) while the wait ran
    if (mask & EV_RXCHAR) {
        DrainCommInput(targets);
        return;
    }
    targets.view.AddLine("WaitCommEvent dwEvtMask: " + std::to_string(static_cast<int>(mask)));
}

DWORD WINAPI CommEventThread(LPVOID parameter) {
    const std::unique_ptr<CommEventTargets> targets(static_cast<CommEventTargets*>(parameter));
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
        WatchPort(*targets, port, &overlapped, backoff);
    }
    return kThreadExitCode;
}

}  // namespace

bool StartCommEventThread(ReceivedBytesSink& bytes, ActivityView& view) {
    auto targets = std::make_unique<CommEventTargets>(CommEventTargets{bytes, view});
    // The thread runs for the life of the process and is never waited for, so its handle
    // is not kept.
    UniqueNullHandle thread(CreateThread(nullptr, 0, CommEventThread, targets.get(), 0, nullptr));
    if (!thread) return false;
    static_cast<void>(targets.release());  // the thread owns it now
    return true;
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
    serial::win::ClearPortErrors(port);
}
