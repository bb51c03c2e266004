// The raw image stream, one loop for the wizard and for varnex: blocks from the image cursor,
// the stall guard's verdict after every write, then the pause and the link's speed again.
#include "download/DownloadEngine.h"

#include <algorithm>

#include "common/Clock.h"
#include "download/ImageCursor.h"

namespace download {

namespace {

constexpr uint32_t kRefusedWritePauseMs = 50;  // between writes that moved nothing
constexpr uint32_t kSettleMs = 100;            // lets the last bytes leave before the speed changes
// While the queue drains, CTS is looked at this often: a unit that ends the image early is
// told apart from one that is still taking bytes.
constexpr uint32_t kDrainSliceMs = 100;
using common::kMsPerSecond;

uint32_t Tick(common::Clock& clock) { return static_cast<uint32_t>(clock.NowMs()); }

bool CancelRaised(const DownloadRequest& request) { return request.cancel != nullptr && request.cancel->load(); }

// True when the request watches CTS and the unit has dropped it. A failed read of a vanished
// port is kept for the caller; any other failure leaves the stream going (the write or the
// drain that follows reports the port's state).
bool UnitEndedImage(serial::SerialPort& port, const DownloadRequest& request, DownloadOutcome* outcome) {
    if (!request.endOnCtsDrop) return false;
    bool on = true;
    serial::PortStatus read = port.ReadCts(&on);
    if (!read.Ok()) {
        outcome->lastError = read;
        return false;
    }
    return !on;
}

// The whole image went to the port: it counts as done once the queue has left for the line,
// so its time and rate are those of the line. A queue that does not drain within the stall
// bound leaves the stream done (every byte was taken), a vanished port does not, and neither
// does a unit that drops CTS while bytes still wait.
void DrainQueue(serial::SerialPort& port, common::Clock& clock, const DownloadRequest& request, uint32_t boundMs,
                DownloadOutcome* outcome) {
    const uint32_t start = Tick(clock);
    for (;;) {
        const uint32_t elapsed = Tick(clock) - start;
        const uint32_t left = elapsed >= boundMs ? 0 : boundMs - elapsed;
        const uint32_t slice = request.endOnCtsDrop ? std::min(left, kDrainSliceMs) : left;
        serial::PortStatus drained = port.Drain(slice);
        if (drained.Ok()) return;
        outcome->lastError = drained;
        if (drained.error == serial::PortError::Gone) {
            outcome->result = DownloadResult::PortGone;
            return;
        }
        if (drained.error != serial::PortError::TimedOut || slice == left) return;
        if (UnitEndedImage(port, request, outcome)) {
            outcome->result = DownloadResult::UnitEnded;
            return;
        }
    }
}

}  // namespace

std::string StallText(uint32_t stallLimitMs) {
    return "the port took no data for " + std::to_string(stallLimitMs / kMsPerSecond) + " seconds";
}

DownloadOutcome RunImageDownload(serial::SerialPort& port, common::Clock& clock, const DownloadRequest& request,
                                 DownloadListener& listener) {
    ImageCursor cursor(request.data, request.size);
    DownloadOutcome outcome;
    outcome.total = cursor.Total();
    outcome.stallLimitMs = WriteStallLimitMs(request.baudRate);
    WriteStallGuard guard(outcome.stallLimitMs, Tick(clock));

    listener.OnStreamStart(outcome.total);
    while (!cursor.Done()) {
        if (CancelRaised(request)) {
            outcome.result = DownloadResult::Cancelled;
            break;
        }
        if (UnitEndedImage(port, request, &outcome)) {
            outcome.result = DownloadResult::UnitEnded;
            break;
        }
        size_t written = 0;
        // The write may wait only as long as the stall bound still allows.
        serial::PortStatus status = port.Write(cursor.Next(), cursor.BlockSize(), guard.MsLeft(Tick(clock)), &written);
        const uint32_t now = Tick(clock);
        cursor.Advance(static_cast<uint32_t>(written));
        if (written > 0) listener.OnProgress(cursor.BytesSent(), cursor.Total());
        if (!status.Ok()) outcome.lastError = status;
        if (status.error == serial::PortError::Gone) {
            outcome.result = DownloadResult::PortGone;
            break;
        }
        // A write cut off at the bound ends the stream even if part of the block left: those
        // bytes went at some unknown earlier time and show no life now.
        const bool cutAtBound = status.error == serial::PortError::TimedOut && guard.Expired(now);
        auto step = guard.AfterWrite(static_cast<uint32_t>(written), cutAtBound, now);
        if (step == WriteStallGuard::Step::GiveUp) {
            outcome.result = DownloadResult::Stalled;
            break;
        }
        // A closed or refusing port fails at once: do not spin on it.
        if (step == WriteStallGuard::Step::PauseAndRetry) clock.SleepMs(kRefusedWritePauseMs);
    }
    outcome.bytesSent = cursor.BytesSent();
    if (outcome.result == DownloadResult::Done) DrainQueue(port, clock, request, outcome.stallLimitMs, &outcome);

    listener.OnStreamEnd(outcome);
    clock.SleepMs(kSettleMs);
    serial::PortStatus back = port.SetBaudRate(serial::kLinkBaudRate);
    if (!back.Ok() && outcome.lastError.Ok()) outcome.lastError = back;
    listener.OnFinished(outcome);
    return outcome;
}

}  // namespace download
