// One unit's download or erase, from opening the port to its one end event (see UnitWorker.h).
#include "cli/UnitWorker.h"

#include "cli/CtsWait.h"
#include "cli/UnitReporter.h"
#include "common/Clock.h"
#include "download/DownloadEngine.h"
#include "download/EraseEngine.h"

namespace cli {

namespace {

using common::kMsPerSecond;

std::string Seconds(uint32_t ms) { return std::to_string((ms + kMsPerSecond - 1) / kMsPerSecond) + " s"; }

class DownloadReporter final : public download::DownloadListener {
public:
    DownloadReporter(const Reporter& reporter, uint32_t baud) : reporter_(reporter), baud_(baud) {}
    void OnStreamStart(uint64_t total) override {
        reporter_.Send(EventKind::Start,
                       "sending " + std::to_string(total) + " bytes at " + std::to_string(baud_) + " baud", 0, total);
    }
    void OnProgress(uint64_t bytesSent, uint64_t total) override {
        reporter_.Send(EventKind::Progress, "", bytesSent, total);
    }
    void OnStreamEnd(const download::DownloadOutcome&) override {}
    void OnFinished(const download::DownloadOutcome&) override {}

private:
    const Reporter& reporter_;
    uint32_t baud_;
};

std::string After(const download::DownloadOutcome& outcome) {
    return " after " + std::to_string(outcome.bytesSent) + " of " + std::to_string(outcome.total) + " bytes";
}

bool ReportDownload(const Reporter& reporter, const download::DownloadOutcome& outcome) {
    const uint64_t sent = outcome.bytesSent;
    switch (outcome.result) {
        case download::DownloadResult::Done:
            reporter.Send(EventKind::Done,
                          std::to_string(sent) + " bytes sent; check that the unit's display shows " +
                              std::to_string(sent),
                          sent, outcome.total);
            return true;
        case download::DownloadResult::Stalled:
            return reporter.Fail("the unit stopped reading: " + download::StallText(outcome.stallLimitMs) +
                                     After(outcome),
                                 sent, outcome.total);
        case download::DownloadResult::PortGone:
            return reporter.Fail("the port is gone (adapter unplugged?)" + After(outcome) + ": " +
                                     Reason(outcome.lastError),
                                 sent, outcome.total);
        case download::DownloadResult::Cancelled:
            return reporter.Fail("stopped by Ctrl-C" + After(outcome), sent, outcome.total);
        case download::DownloadResult::UnitEnded:
            return reporter.Fail("the unit ended the image after " + std::to_string(sent) + " bytes: load it again",
                                 sent, outcome.total);
    }
    return reporter.Fail("unknown download result", sent, outcome.total);
}

}  // namespace

bool RunDownloadUnit(const UnitContext& context, const DownloadPlan& plan) {
    Reporter reporter(context);
    std::unique_ptr<serial::SerialPort> port = OpenPort(context, reporter);
    if (!port) return false;
    reporter.Send(EventKind::Waiting, "waiting up to " + Seconds(plan.waitMs) +
                                          " for CTS: hold C while switching the unit on, then choose " +
                                          std::to_string(plan.baud) + " on the unit");
    serial::PortStatus failure;
    switch (WaitForCts(*port, *context.clock, plan.waitMs, context.cancel, &failure)) {
        case CtsWaitResult::Ready: break;
        case CtsWaitResult::TimedOut:
            return reporter.Fail("no CTS within " + Seconds(plan.waitMs) +
                                 ": the unit is not in its bootloader menu (hold C while switching it on)");
        case CtsWaitResult::PortFailed: return reporter.Fail("cannot read CTS: " + Reason(failure));
        case CtsWaitResult::Cancelled: return reporter.Fail("stopped by Ctrl-C while waiting for CTS");
    }
    serial::PortStatus speed = port->SetBaudRate(plan.baud);
    if (!speed.Ok()) return reporter.Fail("cannot switch to " + std::to_string(plan.baud) + " baud: " + Reason(speed));

    DownloadReporter listener(reporter, plan.baud);
    download::DownloadRequest request;
    request.data = plan.image.data;
    request.size = plan.image.size;
    request.baudRate = plan.baud;
    request.cancel = context.cancel;
    request.endOnCtsDrop = true;
    return ReportDownload(reporter, download::RunImageDownload(*port, *context.clock, request, listener));
}

namespace {

class EraseReporter final : public download::EraseListener {
public:
    explicit EraseReporter(const Reporter& reporter) : reporter_(reporter) {}
    void OnRequestSent() override {
        reporter_.Send(EventKind::Start, "erasing the user storage (the unit takes about 50 s)");
    }
    void OnEraseEnd(const download::EraseOutcome&) override {}
    void OnFinished(const download::EraseOutcome&) override {}

private:
    const Reporter& reporter_;
};

bool ReportErase(const Reporter& reporter, const download::EraseOutcome& outcome, uint32_t writeGiveUpMs) {
    switch (outcome.result) {
        case download::EraseResult::Done:
            reporter.Send(EventKind::Done, "the unit erased its user storage");
            return true;
        case download::EraseResult::WriteFailed:
            return reporter.Fail("the port did not take the erase request within " + Seconds(writeGiveUpMs) + ": " +
                                 Reason(outcome.lastError));
        case download::EraseResult::NoReply:
            return reporter.Fail("no answer from the unit within " + Seconds(outcome.replyTimeoutMs));
        case download::EraseResult::PortGone:
            return reporter.Fail("the port is gone (adapter unplugged?): " + Reason(outcome.lastError));
        case download::EraseResult::Cancelled: return reporter.Fail("stopped by Ctrl-C while erasing");
    }
    return reporter.Fail("unknown erase result");
}

}  // namespace

bool RunEraseUnit(const UnitContext& context) {
    Reporter reporter(context);
    std::unique_ptr<serial::SerialPort> port = OpenPort(context, reporter);
    if (!port) return false;
    serial::PortStatus speed = port->SetBaudRate(download::kEraseBaudRate);
    if (!speed.Ok()) {
        return reporter.Fail("cannot switch to " + std::to_string(download::kEraseBaudRate) +
                             " baud: " + Reason(speed));
    }
    EraseReporter listener(reporter);
    download::EraseLimits limits;
    limits.cancel = context.cancel;
    return ReportErase(reporter, download::RunFlashErase(*port, *context.clock, listener, limits),
                       limits.writeGiveUpMs);
}

}  // namespace cli
