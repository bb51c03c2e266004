// One unit's download or erase, from opening the port to its one end event (see UnitWorker.h).
#include "cli/UnitWorker.h"

#include "cli/CtsWait.h"
#include "cli/UnitReporter.h"
#include "common/Clock.h"
#include "download/DownloadEngine.h"
#include "download/DownloadText.h"
#include "download/EraseEngine.h"
#include "records/RecordStore.h"
#include "serial/NetworkPortName.h"
#include "serial/Rfc2217Client.h"

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

bool ReportDownload(const Reporter& reporter, const std::string& port, const download::DownloadOutcome& outcome) {
    const uint64_t sent = outcome.bytesSent;
    if (outcome.result != download::DownloadResult::Done) {
        return reporter.Fail(download::OutcomeText(outcome, port), sent, outcome.total);
    }
    reporter.Send(EventKind::Done,
                  std::to_string(sent) + " bytes sent; check that the unit's display shows " + std::to_string(sent),
                  sent, outcome.total);
    return true;
}

// A single run's row: begun before the first byte (no load without its row), completed with
// the words the operator saw.
class RunRecord {
public:
    RunRecord(const UnitContext& context, const Reporter& reporter) : context_(context), reporter_(reporter) {}
    // False after a Failed event when the row cannot be written.
    bool Begin() {
        std::string error;
        if (context_.records == nullptr) return true;
        startMs_ = context_.clock->NowMs();
        if (context_.records->Begin({context_.port, kSingleRunUnit, 0}, &id_, &error)) return begun_ = true;
        return reporter_.Fail("the records cannot be written (" + error + "): nothing was sent");
    }
    void Complete(const char* result, uint64_t bytes, uint64_t total, const std::string& reason) {
        if (!begun_) return;
        station::LoadEnd end;
        end.bytesSent = bytes;
        end.total = total;
        end.reason = reason;
        end.durationMs = context_.clock->NowMs() - startMs_;
        std::string error;
        if (!context_.records->CompleteAs(id_, result, end, &error)) {
            reporter_.Send(EventKind::Log, "the records cannot be written: " + error);
        }
    }

private:
    static constexpr uint32_t kSingleRunUnit = 1;
    const UnitContext& context_;
    const Reporter& reporter_;
    uint64_t id_ = 0;
    uint64_t startMs_ = 0;
    bool begun_ = false;
};

const char* RecordResult(bool cancelled, bool done) {
    return done ? records::kDone : cancelled ? records::kStopped : records::kFailed;
}

// The unit shows with CTS that it is in its bootloader menu; false (and the unit failed) when
// it never does.
bool WaitForReadyUnit(const UnitContext& context, const Reporter& reporter, const DownloadPlan& plan,
                      serial::SerialPort& port) {
    reporter.Send(EventKind::Waiting, "waiting up to " + Seconds(plan.waitMs) +
                                          " for CTS: hold C while switching the unit on, then choose " +
                                          std::to_string(plan.baud) + " on the unit");
    serial::PortStatus failure;
    // A network server tells a rise of CTS up to a second after the unit made it.
    const uint32_t limitMs =
        plan.waitMs + (serial::IsNetworkPortName(context.port) ? serial::kModemNoticeLatencyMs : 0);
    switch (WaitForCts(port, *context.clock, limitMs, context.cancel, &failure)) {
        case CtsWaitResult::Ready: return true;
        case CtsWaitResult::TimedOut:
            return reporter.Fail("no CTS within " + Seconds(plan.waitMs) +
                                 ": the unit is not in its bootloader menu (hold C while switching it on)");
        case CtsWaitResult::PortFailed: return reporter.Fail("cannot read CTS: " + Reason(failure));
        case CtsWaitResult::Cancelled: return reporter.Fail("stopped by Ctrl-C while waiting for CTS");
    }
    return reporter.Fail("unknown CTS wait result");
}

}  // namespace

bool RunDownloadUnit(const UnitContext& context, const DownloadPlan& plan) {
    Reporter reporter(context);
    std::unique_ptr<serial::SerialPort> port = OpenPort(context, reporter);
    if (!port) return false;
    if (plan.waitForCts && !WaitForReadyUnit(context, reporter, plan, *port)) return false;
    serial::PortStatus speed = port->SetBaudRate(plan.baud);
    if (!speed.Ok()) return reporter.Fail("cannot switch to " + std::to_string(plan.baud) + " baud: " + Reason(speed));

    DownloadReporter listener(reporter, plan.baud);
    download::DownloadRequest request;
    request.data = plan.image.data;
    request.size = plan.image.size;
    request.baudRate = plan.baud;
    request.cancel = context.cancel;
    // The unit's CTS ends a load it ended early, where CTS is what started the load: not on a
    // raw network port, nor when the operator said not to wait for it.
    request.endOnCtsDrop = plan.waitForCts && port->HasCts();
    RunRecord record(context, reporter);
    if (!record.Begin()) return false;
    const download::DownloadOutcome outcome = download::RunImageDownload(*port, *context.clock, request, listener);
    record.Complete(RecordResult(outcome.result == download::DownloadResult::Cancelled,
                                 outcome.result == download::DownloadResult::Done),
                    outcome.bytesSent, outcome.total, download::OutcomeText(outcome, context.port));
    return ReportDownload(reporter, context.port, outcome);
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

std::string EraseFailureText(const std::string& port, const download::EraseOutcome& outcome, uint32_t writeGiveUpMs) {
    switch (outcome.result) {
        case download::EraseResult::Done: return "";
        case download::EraseResult::WriteFailed:
            return "the port did not take the erase request within " + Seconds(writeGiveUpMs) + ": " +
                   Reason(outcome.lastError);
        case download::EraseResult::NoReply: return "no answer from the unit within " + Seconds(outcome.replyTimeoutMs);
        case download::EraseResult::PortGone: return GoneText(port) + ": " + Reason(outcome.lastError);
        case download::EraseResult::Cancelled: return "stopped by Ctrl-C while erasing";
    }
    return "unknown erase result";
}

// *reason gets the failure's words (empty when done).
bool ReportErase(const Reporter& reporter, const std::string& port, const download::EraseOutcome& outcome,
                 uint32_t writeGiveUpMs, std::string* reason) {
    if (outcome.result == download::EraseResult::Done) {
        reporter.Send(EventKind::Done, "the unit erased its user storage");
        return true;
    }
    *reason = EraseFailureText(port, outcome, writeGiveUpMs);
    return reporter.Fail(*reason);
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
    RunRecord record(context, reporter);
    if (!record.Begin()) return false;
    const download::EraseOutcome outcome = download::RunFlashErase(*port, *context.clock, listener, limits);
    std::string reason;
    const bool done = ReportErase(reporter, context.port, outcome, limits.writeGiveUpMs, &reason);
    record.Complete(RecordResult(outcome.result == download::EraseResult::Cancelled, done), 0, 0, reason);
    return done;
}

}  // namespace cli
