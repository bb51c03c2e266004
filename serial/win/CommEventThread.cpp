// The comm-event thread: waits for received characters, drains them in chunks of up to 511
// bytes into the installed sink (and, when asked, the raw-data log and a feed), and the
// packet link's waited write. Failed waits back off instead of spinning while a device is
// gone. The Win32 calls themselves are PortIo's.
#include "serial/win/CommEventThread.h"

#include <memory>
#include <string>

#include "common/win/Handles.h"
#include "serial/CommWaitBackoff.h"
#include "serial/RawDataLine.h"
#include "serial/win/CommPort.h"
#include "serial/win/PortIo.h"

namespace serial::win {

std::atomic<int> RawDataLogging{0};
std::atomic<int> CommThreadStop{0};

namespace {

using common::win::ActivityView;
using common::win::MakeAutoResetEvent;
using common::win::UniqueNullHandle;

constexpr DWORD kNoPortPollMs = 500;
constexpr UINT kDefaultBeep = 0;
constexpr DWORD kThreadExitCode = 1;

// The feed's single-producer, single-consumer ring: the thread only appends, the reader only
// takes, each side owning its own index, so no lock is needed.
constexpr uint32_t kFeedRingBytes = 1024;  // far above what the unit sends while it erases
uint8_t FeedRing[kFeedRingBytes];
std::atomic<uint32_t> FeedHead{0};  // advanced by the comm-event thread only
std::atomic<uint32_t> FeedTail{0};  // advanced by the reader only
std::atomic<bool> FeedOpen{false};
// Signalled when bytes arrive. Created once and kept, so a chunk that races the end of a
// feed never meets a closed handle.
UniqueNullHandle FeedArrived;

void FeedChunk(const uint8_t* bytes, size_t count) {
    uint32_t head = FeedHead.load(std::memory_order_relaxed);
    const uint32_t tail = FeedTail.load(std::memory_order_acquire);
    for (size_t i = 0; i < count && head - tail < kFeedRingBytes; ++i) FeedRing[head++ % kFeedRingBytes] = bytes[i];
    FeedHead.store(head, std::memory_order_release);
    if (count > 0) SetEvent(FeedArrived.Get());
}

size_t TakeFromFeed(uint8_t* buffer, size_t size) {
    const uint32_t head = FeedHead.load(std::memory_order_acquire);
    uint32_t tail = FeedTail.load(std::memory_order_relaxed);
    size_t taken = 0;
    while (tail != head && taken < size) buffer[taken++] = FeedRing[tail++ % kFeedRingBytes];
    FeedTail.store(tail, std::memory_order_release);
    return taken;
}

// What the thread reports to; owned by the thread once it runs.
struct CommEventTargets {
    ReceivedBytesSink& bytes;
    ActivityView& view;
};

// Reads up to maximum of the bytes already queued on the open port; 0 when there are none
// or the read failed.
int ReadCommBytes(uint8_t* buffer, int maximum) {
    HANDLE port = CommPortHandle.load();
    if (port == nullptr || maximum <= 0) return 0;
    return static_cast<int>(ReadQueuedBytes(port, &ReadOverlapped, buffer, static_cast<size_t>(maximum)));
}

void DrainCommInput(const CommEventTargets& targets) {
    uint8_t chunk[kMaxChunkBytes];
    for (;;) {
        const int count = ReadCommBytes(chunk, static_cast<int>(sizeof chunk));
        if (count <= 0) return;
        if (FeedOpen.load()) FeedChunk(chunk, static_cast<size_t>(count));
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
        ClearPortErrors(port);
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

bool CommEventFeed::Prepare() {
    if (!FeedArrived) FeedArrived = MakeAutoResetEvent();
    return static_cast<bool>(FeedArrived);
}

CommEventFeed::CommEventFeed() {
    FeedTail.store(FeedHead.load());
    ResetEvent(FeedArrived.Get());
    FeedOpen.store(true);
}

CommEventFeed::~CommEventFeed() { FeedOpen.store(false); }

size_t CommEventFeed::Take(uint8_t* buffer, size_t size, uint32_t timeoutMs) {
    size_t count = TakeFromFeed(buffer, size);
    if (count == 0 && timeoutMs > 0) {
        WaitForSingleObject(FeedArrived.Get(), timeoutMs);
        count = TakeFromFeed(buffer, size);
    }
    return count;
}

void WriteCommBytes(const void* bytes, DWORD count) {
    SetLastError(ERROR_SUCCESS);
    IssueWrite(CommPortHandle.load(), &WriteOverlapped, bytes, count);
    WaitCommWrite(&WriteOverlapped);
}

void WaitCommWrite(OVERLAPPED* record) { AwaitWrite(CommPortHandle.load(), record); }

}  // namespace serial::win
