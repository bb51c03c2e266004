// One unit's download or erase, from opening the port to its one end event (see UnitWorker.h).
#include "cli/load/UnitWorker.h"

#include "cli/load/CtsWait.h"
#include "cli/load/UnitReporter.h"
#include "common/Clock.h"
#include "download/DownloadEngine.h"
#include "download/DownloadText.h"
#include "download/EraseEngine.h"
#include "records/RecordStore.h"

namespace cli {

namespace {

// A unit's engine events as its events: log lines and notices as Log events; the progress
// is each engine's own.
class UnitEngineEvents : public common::EngineEvents {
public:
    explicit UnitEngineEvents(const Reporter& reporter) : reporter_(reporter) {}
    void Log(const std::string& line, std::error_code error) override {
        reporter_.Send(EventKind::Log, error ? line + " (" + error.message() + ")" : line);
    }
    void Notice(common::NoticeKind, const std::string& text) override {
        if (!text.empty()) reporter_.Send(EventKind::Log, text);
    }

protected:
    const Reporter& reporter_;
};

class DownloadReporter final : public UnitEngineEvents {
public:
    DownloadReporter(const Reporter& reporter, uint32_t baud) : UnitEngineEvents(reporter), baud_(baud) {}
    void ProgressStart(uint64_t total) override {
        total_ = total;
        UnitEvent start{EventKind::Start, 0, 0, total,
                        "sending " + std::to_string(total) + " bytes at " + std::to_string(baud_) + " baud"};
        start.baud = baud_;
        reporter_.Send(start);
    }
    void ProgressAdvance(uint64_t done) override { reporter_.Send(EventKind::Progress, "", done, total_); }
    void ProgressEnd() override {}

private:
    uint32_t baud_;
    uint64_t total_ = 0;
};

bool ReportDownload(const Reporter& reporter, serial::PortKind kind, const download::DownloadOutcome& outcome) {
    const uint64_t sent = outcome.bytesSent;
    if (outcome.result != download::DownloadResult::Done) {
        return reporter.Fail(download::OutcomeText(outcome, kind), sent, outcome.total);
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
        return reporter_.Fail(Failure::RecordNotBegun, Words(error));
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
            reporter_.Send(EventKind::Log, FailureText(Failure::RecordNotCompleted, Words(error)));
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
    reporter.Send(EventKind::Waiting, "waiting up to " + SecondsText(plan.waitMs) +
                                          " for CTS: hold C while switching the unit on, then choose " +
                                          std::to_string(plan.baud) + " on the unit");
    FailureDetails failure;
    failure.ms = plan.waitMs;
    // A port that tells a rise of CTS late (a network server) is given that time as well.
    const uint32_t limitMs = plan.waitMs + port.CtsNoticeLatencyMs();
    switch (WaitForCts(port, *context.clock, limitMs, context.cancel, &failure.status)) {
        case CtsWaitResult::Ready: return true;
        case CtsWaitResult::TimedOut: return reporter.Fail(Failure::NoCts, failure);
        case CtsWaitResult::PortFailed: return reporter.Fail(Failure::CtsNotRead, failure);
        case CtsWaitResult::Cancelled: return reporter.Fail(Failure::CtsWaitStopped);
    }
    return reporter.Fail(Failure::UnknownResult, Words("CTS wait"));
}

// The port at the speed of the load or the erase; false (and the unit failed) when it will
// not take it.
bool SwitchSpeed(serial::SerialPort& port, uint32_t baud, const Reporter& reporter) {
    FailureDetails failure = PortFailure(port.SetBaudRate(baud));
    if (failure.status.Ok()) return true;
    failure.baud = baud;
    return reporter.Fail(Failure::SpeedNotSet, failure);
}

}  // namespace

bool RunDownloadUnit(const UnitContext& context, const DownloadPlan& plan) {
    Reporter reporter(context);
    std::unique_ptr<serial::SerialPort> port = OpenPort(context, reporter);
    if (!port) return false;
    if (plan.waitForCts && !WaitForReadyUnit(context, reporter, plan, *port)) return false;
    if (!SwitchSpeed(*port, plan.baud, reporter)) return false;

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
                    outcome.bytesSent, outcome.total, download::OutcomeText(outcome, port->Kind()));
    return ReportDownload(reporter, port->Kind(), outcome);
}

namespace {

class EraseReporter final : public UnitEngineEvents {
public:
    using UnitEngineEvents::UnitEngineEvents;
    void ProgressStart(uint64_t) override {
        reporter_.Send(EventKind::Start, "erasing the user storage (the unit takes about 50 s)");
    }
    void ProgressAdvance(uint64_t) override {}
    void ProgressEnd() override {}
};

std::string EraseFailureText(serial::PortKind kind, const download::EraseOutcome& outcome, uint32_t writeGiveUpMs) {
    FailureDetails details = PortFailure(outcome.lastError, kind);
    switch (outcome.result) {
        case download::EraseResult::Done: return "";
        case download::EraseResult::WriteFailed:
            details.ms = writeGiveUpMs;
            return FailureText(Failure::EraseNotTaken, details);
        case download::EraseResult::NoReply:
            details.ms = outcome.replyTimeoutMs;
            return FailureText(Failure::EraseNoReply, details);
        case download::EraseResult::PortGone: return FailureText(Failure::PortGone, details);
        case download::EraseResult::Cancelled: return FailureText(Failure::EraseStopped);
    }
    return FailureText(Failure::UnknownResult, Words("erase"));
}

// *reason gets the failure's words (empty when done).
bool ReportErase(const Reporter& reporter, serial::PortKind kind, const download::EraseOutcome& outcome,
                 uint32_t writeGiveUpMs, std::string* reason) {
    if (outcome.result == download::EraseResult::Done) {
        reporter.Send(EventKind::Done, "the unit erased its user storage");
        return true;
    }
    *reason = EraseFailureText(kind, outcome, writeGiveUpMs);
    return reporter.Fail(*reason);
}

}  // namespace

bool RunEraseUnit(const UnitContext& context) {
    Reporter reporter(context);
    std::unique_ptr<serial::SerialPort> port = OpenPort(context, reporter);
    if (!port) return false;
    if (!SwitchSpeed(*port, download::kEraseBaudRate, reporter)) return false;
    EraseReporter listener(reporter);
    download::EraseLimits limits;
    limits.cancel = context.cancel;
    RunRecord record(context, reporter);
    if (!record.Begin()) return false;
    const download::EraseOutcome outcome = download::RunFlashErase(*port, *context.clock, listener, limits);
    std::string reason;
    const bool done = ReportErase(reporter, port->Kind(), outcome, limits.writeGiveUpMs, &reason);
    record.Complete(RecordResult(outcome.result == download::EraseResult::Cancelled, done), 0, 0, reason);
    return done;
}

}  // namespace cli
