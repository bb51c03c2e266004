// One service command from the port's opening to its end event (see ServiceWorker.h).
#include "cli/service/ServiceWorker.h"

#include <optional>

#include "cli/load/UnitReporter.h"
#include "cli/service/LinkLoop.h"
#include "cli/service/ServiceListener.h"
#include "common/Clock.h"
#include "transfer/TransferText.h"

namespace cli {

namespace {

// The fixed request draws no answer: the port stays open this long after it so that its
// bytes leave at the line's own settings before the port is closed and its old ones return.
constexpr uint32_t kRequestSettleMs = 100;
// A few bytes leave in milliseconds; a port that holds them this long does not send them.
constexpr uint32_t kRequestDrainBoundMs = 2000;

// The engine's operation for each transfer command; none for the monitor and the request.
std::optional<transfer::Operation> OperationOf(Command command) {
    switch (command) {
        case Command::NlecGet: return transfer::Operation::GetNlec;
        case Command::NlecSend: return transfer::Operation::SendNlec;
        case Command::SettingsGet: return transfer::Operation::ReceiveSettings;
        case Command::SettingsSend: return transfer::Operation::SendSettings;
        case Command::ProgramGet: return transfer::Operation::ReceiveProgram;
        case Command::ProgramSend: return transfer::Operation::SendProgram;
        case Command::BitmapSend: return transfer::Operation::SendBitmap;
        default: return std::nullopt;
    }
}

// Runs the engine until its session ends (or, for the monitor, never), and notices a unit
// that has gone quiet while the engine waits for nothing. Quiet counts from the unit's last
// good frame: bytes that never make one (noise, a unit at another speed) are not the unit.
class EnginePump final : public LinkPump {
public:
    EnginePump(transfer::TransferEngine& engine, const ServiceListener& listener, common::Clock& clock, bool forever)
        : engine_(engine), listener_(listener), clock_(clock), forever_(forever), lastHeardMs_(clock.NowMs()) {}
    void Feed(const uint8_t* bytes, size_t count) override {
        if (engine_.ReceiveBytes(bytes, count) > 0) lastHeardMs_ = clock_.NowMs();
    }
    void Tick() override {
        engine_.Tick();
        if (!forever_ && clock_.NowMs() - lastHeardMs_ >= kQuietUnitLimitMs) quiet_ = true;
    }
    bool Finished() const override { return !forever_ && (listener_.End().has_value() || quiet_); }

private:
    transfer::TransferEngine& engine_;
    const ServiceListener& listener_;
    common::Clock& clock_;
    bool forever_;
    uint64_t lastHeardMs_;
    bool quiet_ = false;
};

// The end's own report; without one, the dialog's log line for that ending.
std::string EndText(const transfer::SessionEnd& end, const ServiceListener& listener) {
    std::string text = end.text;
    if (text.empty() && end.result == transfer::SessionResult::UnitError &&
        transfer::FamilyOfSession(end.kind) == transfer::SessionFamily::Nlec) {
        text = transfer::kNlecTransferError;
    }
    if (text.empty())
        text = listener.LastReason().empty() ? FailureText(Failure::TransferFailed) : listener.LastReason();
    if (end.unitText.empty()) return text;
    FailureDetails details = Words(text);
    details.more = end.unitText;
    return FailureText(Failure::UnitSays, details);
}

// The fixed request draws no answer, so "sent" rests on the port alone: every byte taken
// by the port and drained to the line, else a failure with the port's reason.
bool SendRequest(transfer::TransferEngine& engine, const FrameWriter& writer, serial::SerialPort& port,
                 common::Clock& clock, const Reporter& reporter) {
    engine.SendFixedRequest();
    if (writer.Gone()) return reporter.Fail(Failure::PortGone, PortFailure(writer.GoneStatus(), port.Kind()));
    if (!writer.LastWhole()) return reporter.Fail(Failure::RequestNotSent, PortFailure(writer.LastStatus()));
    serial::PortStatus drained = port.Drain(kRequestDrainBoundMs);
    if (!drained.Ok()) return reporter.Fail(Failure::RequestNotSent, PortFailure(drained));
    clock.SleepMs(kRequestSettleMs);
    reporter.Send(EventKind::Done, "the fixed request was sent");
    return true;
}

bool ReportEnd(const Reporter& reporter, const ServiceListener& listener) {
    const transfer::SessionEnd& end = *listener.End();
    if (end.result == transfer::SessionResult::Completed) {
        reporter.Send(EventKind::Done, end.text, listener.Steps(), listener.Total());
        return true;
    }
    return reporter.Fail(EndText(end, listener), listener.Steps(), listener.Total());
}

}  // namespace

bool RunServiceUnit(const UnitContext& context, const ServicePlan& plan) {
    Reporter reporter(context);
    std::unique_ptr<serial::SerialPort> port = OpenPort(context, reporter);
    if (!port) return false;
    FrameWriter writer(*port);
    ServiceListener listener(context.unit, *context.sink, writer);
    transfer::TransferEngine engine(listener, transfer::SystemFiles(), *context.clock);

    if (plan.command == Command::Request) return SendRequest(engine, writer, *port, *context.clock, reporter);
    const bool monitor = plan.command == Command::Monitor;
    if (monitor) {
        reporter.Send(EventKind::Start, "listening to the unit; Ctrl-C ends");
    } else if (const auto operation = OperationOf(plan.command);
               !operation || !engine.Start({*operation, plan.file, plan.programName})) {
        if (listener.LastReason().empty()) return reporter.Fail(Failure::TransferNotStarted);
        return reporter.Fail(listener.LastReason());
    }

    EnginePump pump(engine, listener, *context.clock, monitor);
    LinkLoopResult loop = RunLinkLoop(*port, *context.clock, pump, context.cancel);
    if (writer.Gone() && loop.end != LinkLoopEnd::PortFailed) {
        loop.end = LinkLoopEnd::PortFailed;
        loop.failure = writer.GoneStatus();
    }
    if (loop.end == LinkLoopEnd::Finished && listener.End()) return ReportEnd(reporter, listener);

    const uint64_t steps = listener.Steps();
    const uint64_t total = listener.Total();
    engine.Stop();  // a receive's temporary file goes; the chosen file stays as it was
    switch (loop.end) {
        case LinkLoopEnd::Cancelled:
            if (monitor) {
                reporter.Send(EventKind::Done, "stopped by Ctrl-C");
                return true;
            }
            return reporter.Fail(Failure::TransferStopped, {}, steps, total);
        case LinkLoopEnd::PortFailed:
            return reporter.Fail(Failure::PortGone, PortFailure(loop.failure, port->Kind()), steps, total);
        case LinkLoopEnd::Finished: break;
    }
    FailureDetails quiet;
    quiet.ms = kQuietUnitLimitMs;
    return reporter.Fail(Failure::UnitQuiet, quiet, steps, total);
}

}  // namespace cli
