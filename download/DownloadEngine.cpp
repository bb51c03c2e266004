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

}  // namespace

std::string StallText(uint32_t stallLimitMs) {
    return "the port took no data for " + std::to_string(stallLimitMs / kMsPerSecond) + " seconds";
}

// True when the request watches CTS and the unit has dropped it. A failed read of a vanished
// port is kept for the caller; any other failure leaves the stream going (the write or the
// drain that follows reports the port's state).
bool ImageDownload::UnitEndedImage() {
    if (!request_.endOnCtsDrop) return false;
    bool on = true;
    serial::PortStatus read = port_.ReadCts(&on);
    if (!read.Ok()) {
        outcome_.lastError = read;
        return false;
    }
    return !on;
}

// The whole image went to the port: it counts as done once the queue has left for the line,
// so its time and rate are those of the line. A queue that does not drain within the stall
// bound leaves the stream done (every byte was taken), a vanished port does not, and neither
// does a unit that drops CTS while bytes still wait.
void ImageDownload::DrainQueue() {
    const uint32_t boundMs = outcome_.stallLimitMs;
    const uint32_t start = Tick(clock_);
    for (;;) {
        const uint32_t elapsed = Tick(clock_) - start;
        const uint32_t left = elapsed >= boundMs ? 0 : boundMs - elapsed;
        const uint32_t slice = request_.endOnCtsDrop ? std::min(left, kDrainSliceMs) : left;
        serial::PortStatus drained = port_.Drain(slice);
        if (drained.Ok()) return;
        outcome_.lastError = drained;
        if (drained.error == serial::PortError::Gone) {
            outcome_.result = DownloadResult::PortGone;
            return;
        }
        if (drained.error != serial::PortError::TimedOut || slice == left) return;
        if (UnitEndedImage()) {
            outcome_.result = DownloadResult::UnitEnded;
            return;
        }
    }
}

DownloadOutcome ImageDownload::Run(DownloadListener& listener) {
    ImageCursor cursor(request_.data, request_.size);
    outcome_ = DownloadOutcome();
    outcome_.total = cursor.Total();
    outcome_.stallLimitMs = WriteStallLimitMs(request_.baudRate);
    WriteStallGuard guard(outcome_.stallLimitMs, Tick(clock_));

    listener.ProgressStart(outcome_.total);
    while (!cursor.Done()) {
        if (CancelRaised(request_)) {
            outcome_.result = DownloadResult::Cancelled;
            break;
        }
        if (UnitEndedImage()) {
            outcome_.result = DownloadResult::UnitEnded;
            break;
        }
        size_t written = 0;
        // The write may wait only as long as the stall bound still allows.
        serial::PortStatus status =
            port_.Write(cursor.Next(), cursor.BlockSize(), guard.MsLeft(Tick(clock_)), &written);
        const uint32_t now = Tick(clock_);
        cursor.Advance(static_cast<uint32_t>(written));
        outcome_.bytesSent = cursor.BytesSent();
        if (written > 0) listener.ProgressAdvance(cursor.BytesSent());
        if (!status.Ok()) outcome_.lastError = status;
        if (status.error == serial::PortError::Gone) {
            outcome_.result = DownloadResult::PortGone;
            break;
        }
        // A write cut off at the bound ends the stream even if part of the block left: those
        // bytes went at some unknown earlier time and show no life now.
        const bool cutAtBound = status.error == serial::PortError::TimedOut && guard.Expired(now);
        auto step = guard.AfterWrite(static_cast<uint32_t>(written), cutAtBound, now);
        if (step == WriteStallGuard::Step::GiveUp) {
            outcome_.result = DownloadResult::Stalled;
            break;
        }
        // A closed or refusing port fails at once: do not spin on it.
        if (step == WriteStallGuard::Step::PauseAndRetry) clock_.SleepMs(kRefusedWritePauseMs);
    }
    if (outcome_.result == DownloadResult::Done) DrainQueue();

    listener.ProgressEnd();
    clock_.SleepMs(kSettleMs);
    serial::PortStatus back = port_.SetBaudRate(serial::kLinkBaudRate);
    if (!back.Ok() && outcome_.lastError.Ok()) outcome_.lastError = back;
    return outcome_;
}

DownloadOutcome RunImageDownload(serial::SerialPort& port, common::Clock& clock, const DownloadRequest& request,
                                 DownloadListener& listener) {
    return ImageDownload(port, clock, request).Run(listener);
}

}  // namespace download
