// Erasing the unit's user storage: the request 0x07 0x06 at 115 200 baud, then a bounded
// wait for the same two bytes back. The comm-event thread owns the port's reads, so while
// the erase waits it hands every received chunk to the reply matcher through
// ReceivedBytesHook instead of the erase racing it with reads of its own.
#include "download/win/FlashErase.h"

#include <atomic>
#include <cstdint>

#include "common/DialogIds.h"
#include "app/win/ActivityLog.h"
#include "common/win/Handles.h"
#include "download/EraseReply.h"
#include "download/win/ImageDownload.h"
#include "serial/win/CommEventThread.h"
#include "serial/win/CommPort.h"

namespace {

constexpr uint32_t kEraseBaudRate = 115200;
// The unit needs about 50 s; more than twice that means it is not going to answer.
constexpr DWORD kEraseReplyTimeoutMs = 120000;
constexpr DWORD kEraseReplyTimeoutSeconds = kEraseReplyTimeoutMs / 1000;
// How long a port that refuses the request is retried, and the pause between tries.
constexpr DWORD kEraseWriteGiveUpMs = 5000;
constexpr DWORD kEraseWriteRetryPauseMs = 50;
constexpr DWORD kDoneSettleMs = 100;
constexpr DWORD kRequestLength = sizeof kEraseRequest;
constexpr DWORD kThreadExitCode = 1;
constexpr WPARAM kDoneWParam = 0;
constexpr LPARAM kDoneLParam = 1;  // the same message and values as a finished download

// Touched by the comm-event thread only while the hook is set; reset before it is set.
EraseReplyMatcher ReplyMatcher;
std::atomic<bool> ReplySeen{false};
// Signalled by the hook when the reply has been seen. Created once and kept for the run,
// so a hook call that races the end of a wait never meets a closed handle.
UniqueNullHandle ReplyEvent;

void TakeReceivedBytes(const uint8_t* bytes, int count) {
    if (count <= 0 || ReplySeen.load()) return;
    if (ReplyMatcher.Feed(bytes, static_cast<size_t>(count))) {
        ReplySeen.store(true);
        SetEvent(ReplyEvent.Get());
    }
}

// Starts counting reply pairs from now; done before the request goes out, so that a quick
// answer cannot slip past.
void ArmReplyWait() {
    ReplyMatcher.Reset();
    ReplySeen.store(false);
    ResetEvent(ReplyEvent.Get());
    ReceivedBytesHook.store(&TakeReceivedBytes);
}

void DisarmReplyWait() { ReceivedBytesHook.store(nullptr); }

// One overlapped write of the request; the count written (0 after a failure, once the
// port's error state is cleared).
DWORD WriteRequestOnce(HANDLE event) {
    HANDLE port = CommPortHandle.load();
    if (port == nullptr || port == INVALID_HANDLE_VALUE) return 0;
    OVERLAPPED record{};
    record.hEvent = event;
    DWORD written = 0;
    if (WriteFile(port, kEraseRequest, kRequestLength, &written, &record)) return written;
    if (GetLastError() == ERROR_IO_PENDING) {
        while (!GetOverlappedResult(port, &record, &written, TRUE)) {
            if (GetLastError() != ERROR_IO_INCOMPLETE) {
                DWORD errors = 0;
                ClearCommError(port, &errors, nullptr);
                return written;
            }
        }
        return written;
    }
    DWORD errors = 0;
    ClearCommError(port, &errors, nullptr);
    return 0;
}

// Writes both request bytes, retrying a refusing port for a few seconds; false if it never
// took them.
bool SendEraseRequest(HANDLE event) {
    const DWORD start = GetTickCount();
    DWORD total = 0;
    while (total < kRequestLength) {
        total += WriteRequestOnce(event);
        if (total >= kRequestLength) break;
        if (GetTickCount() - start >= kEraseWriteGiveUpMs) return false;
        Sleep(kEraseWriteRetryPauseMs);
    }
    return true;
}

}  // namespace

void StartFlashErase(HWND dialog) {
    if (DownloadBusy.load()) return;
    SetCommBaudRate(kEraseBaudRate);
    if (!ReplyEvent) ReplyEvent = MakeAutoResetEvent();
    if (!ReplyEvent) {
        LogMessage(dialog, GetLastError(), "Flash erase could not start.");
        return;
    }
    DownloadBusy.store(1);
    UniqueNullHandle worker(CreateThread(nullptr, 0, FlashEraseThread, dialog, 0, nullptr));
    if (!worker) {
        // Nothing will lower the flag if the worker never runs.
        DownloadBusy.store(0);
        LogMessage(dialog, GetLastError(), "Flash erase could not start.");
    }
}

DWORD WINAPI FlashEraseThread(LPVOID parameter) {
    HWND dialog = static_cast<HWND>(parameter);
    UniqueNullHandle writeEvent = MakeAutoResetEvent();
    ArmReplyWait();
    if (writeEvent && SendEraseRequest(writeEvent.Get())) {
        LogMessage(dialog, 0, "Erasing user storage on flash ... (~50 sec.)");
        if (WaitEraseReply(dialog)) {
            LogMessage(dialog, 0, "Done erasing user storage.");
        } else {
            LogMessage(dialog, 0, "Flash erase failed: the unit did not answer within %lu seconds.",
                       static_cast<unsigned long>(kEraseReplyTimeoutSeconds));
        }
    } else {
        DisarmReplyWait();
        LogMessage(dialog, 0, "Flash erase failed: the erase request could not be written to the port.");
    }
    Sleep(kDoneSettleMs);
    PostMessageA(dialog, WM_DOWNLOAD_DONE, kDoneWParam, kDoneLParam);
    DownloadBusy.store(0);
    return kThreadExitCode;
}

int WaitEraseReply(HWND) {
    if (!ReplySeen.load()) WaitForSingleObject(ReplyEvent.Get(), kEraseReplyTimeoutMs);
    DisarmReplyWait();
    return ReplySeen.load() ? 1 : 0;
}
