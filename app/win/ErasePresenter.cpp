// Erasing the unit's user storage through the erase engine: the request 0x07 0x06 at
// 115 200 baud, then a bounded wait for the same two bytes back. The comm-event thread owns
// the port's reads, so the engine's port takes the reply from what that thread hands over
// instead of racing it with reads of its own.
#include "app/win/ErasePresenter.h"

#include <atomic>
#include <cstdint>
#include <memory>

#include "app/DialogIds.h"
#include "app/win/DownloadPresenter.h"
#include "common/Clock.h"
#include "common/win/ActivityView.h"
#include "common/win/Handles.h"
#include "download/EraseEngine.h"
#include "serial/win/CommEventThread.h"
#include "serial/win/CommPort.h"
#include "serial/win/Win32SerialPort.h"

using common::win::ActivityView;
using common::win::LogLine;
using common::win::UniqueNullHandle;
using serial::win::SetCommBaudRate;

namespace {

using common::kMsPerSecond;
constexpr char kPortName[] = "CommPortHandle";  // the one open port, for the engine's messages
constexpr char kCannotStartText[] = "Flash erase could not start.";

// The erase's log lines; the ending (posted message, busy flag) is the worker's, after the
// port has stopped taking received bytes.
class DialogEraseListener final : public WorkerEvents {
public:
    DialogEraseListener(ActivityView& view, const download::FlashErase& erase) : WorkerEvents(view), erase_(erase) {}

    void ProgressStart(uint64_t) override { LogLine(view_, 0, "Erasing user storage on flash ... (~50 sec.)"); }
    void ProgressAdvance(uint64_t) override {}
    void ProgressEnd() override {
        const download::EraseOutcome& outcome = erase_.Outcome();
        switch (outcome.result) {
            case download::EraseResult::Done: LogLine(view_, 0, "Done erasing user storage."); break;
            case download::EraseResult::NoReply:
                LogLine(view_, 0, "Flash erase failed: the unit did not answer within %lu seconds.",
                        static_cast<unsigned long>(outcome.replyTimeoutMs / kMsPerSecond));
                break;
            default:
                LogLine(view_, 0, "Flash erase failed: the erase request could not be written to the port.");
                break;
        }
    }

private:
    const download::FlashErase& erase_;
};

// What the worker reports to; the worker owns it once it runs.
struct EraseTarget {
    HWND dialog;
    ActivityView& view;
};

DWORD WINAPI FlashEraseThread(LPVOID parameter) {
    const std::unique_ptr<EraseTarget> target(static_cast<EraseTarget*>(parameter));
    {
        serial::win::CommEventFeed replies;
        serial::win::Win32SerialPort port(kPortName, serial::win::CommPortHandle, &replies);
        download::FlashErase erase(port, common::SteadyClock());
        DialogEraseListener listener(target->view, erase);
        erase.Run(listener);
    }
    PostMessageA(target->dialog, WM_DOWNLOAD_DONE, kWorkerDoneWParam, kWorkerDoneLParam);
    DownloadBusy.store(0);
    return kWorkerExitCode;
}

}  // namespace

void StartFlashErase(HWND dialog, ActivityView& view) {
    if (DownloadBusy.load()) return;
    SetCommBaudRate(download::kEraseBaudRate);
    if (!serial::win::CommEventFeed::Prepare()) {
        LogLine(view, GetLastError(), kCannotStartText);
        return;
    }
    DownloadBusy.store(1);
    auto target = std::make_unique<EraseTarget>(EraseTarget{dialog, view});
    UniqueNullHandle worker(CreateThread(nullptr, 0, FlashEraseThread, target.get(), 0, nullptr));
    if (worker) {
        static_cast<void>(target.release());  // the worker owns it now
    } else {
        // Nothing will lower the flag if the worker never runs.
        DownloadBusy.store(0);
        LogLine(view, GetLastError(), kCannotStartText);
    }
}
