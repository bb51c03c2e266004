// The dialog's serial input path: the comm-event thread that drains received bytes into a
// sink (and, when asked, the raw-data log), the feed of those bytes to a second reader, and
// the waited write of the packet link.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/win/ActivityView.h"
#include "serial/ReceivedBytesSink.h"
#include "serial/win/Win32SerialPort.h"

namespace serial::win {

extern std::atomic<int> RawDataLogging;  // toggled by command 1005
extern std::atomic<int> CommThreadStop;  // raised at WM_DESTROY

// Starts the thread that watches the open port (CommPortHandle) until CommThreadStop: every
// chunk of up to 511 received bytes goes to bytes, and, while RawDataLogging is set, its
// "RAW_DATA: " line to view. Both must outlive the thread. False (GetLastError tells why)
// when the thread cannot be made.
bool StartCommEventThread(ReceivedBytesSink& bytes, common::win::ActivityView& view);

// What the thread drains, also handed to one more reader (the flash erase waiting for the
// unit's reply: the thread owns the port's reads, so no one else may read the port). Bytes
// are collected from construction on, before a request goes out, so a quick answer cannot
// slip past. One feed at a time.
class CommEventFeed final : public ReceivedBytesSource {
public:
    // Makes what a feed needs, once; false (GetLastError tells why) when it cannot.
    static bool Prepare();
    CommEventFeed();
    ~CommEventFeed() override;
    CommEventFeed(const CommEventFeed&) = delete;
    CommEventFeed& operator=(const CommEventFeed&) = delete;

    size_t Take(uint8_t* buffer, size_t size, uint32_t timeoutMs) override;
};

// Issues one write of the packet link on the open port with WriteOverlapped and waits for it
// with WaitCommWrite; its failures are not passed on (the reply timeout recovers).
void WriteCommBytes(const void* bytes, DWORD count);
// Waits for an overlapped write on the open port to end; a failure clears the port's errors.
void WaitCommWrite(OVERLAPPED* record);

}  // namespace serial::win
