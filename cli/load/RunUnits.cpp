// One worker per unit under one presenter (see RunUnits.h).
#include "cli/load/RunUnits.h"

#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/output/EventHub.h"
#include "cli/output/FailureTexts.h"
#include "cli/output/JsonEvents.h"
#include "cli/output/LiveRenderer.h"
#include "cli/output/PlainLines.h"
#include "cli/output/Summary.h"
#include "cli/output/UnitBoard.h"
#include "cli/terminal/StdoutScreen.h"
#include "common/Clock.h"
#include "serial/NetworkPortName.h"
#include "serial/SerialPort.h"

namespace cli {

namespace {

std::unique_ptr<Presenter> MakePresenter(const UnitsOptions& options, std::ostream& out, uint64_t startMs) {
    if (options.json) return std::make_unique<JsonEvents>(out, options.ports, startMs);
    if (OnTerminal()) return std::make_unique<LiveRenderer>(MakeScreen(out), options.ports, OutputSize);
    return std::make_unique<PlainLines>(out, options.ports);
}

}  // namespace

void NoteRawPorts(const UnitsOptions& options, uint32_t baud, std::ostream& err) {
    for (const std::string& port : options.ports) {
        if (serial::IsRawNetworkPortName(port)) {
            err << "varnex: note: socket:// ports carry no line settings; varnex takes the server's to be " << baud
                << " baud, 8 data bits, odd parity, 1 stop bit and cannot check them" << std::endl;
            return;
        }
    }
}

int RunUnits(const UnitsOptions& options, std::ostream& out, std::atomic<bool>& cancel, const UnitJob& job, RunEnd end,
             RecordKeeping* records) {
    common::Clock& clock = common::SteadyClock();
    UnitBoard board(options.ports);
    std::unique_ptr<Presenter> presenter = MakePresenter(options, out, clock.NowMs());
    EventHub hub(clock, *presenter, board);

    std::atomic<size_t> finished{0};
    std::vector<std::thread> workers;
    for (size_t unit = 0; unit < options.ports.size(); ++unit) {
        UnitContext context{unit, options.ports[unit], serial::OpenSerialPort, &clock, &hub, &cancel, records};
        try {
            workers.emplace_back([context, &job, &finished] {
                job(context);
                ++finished;
            });
        } catch (const std::system_error& error) {
            hub.Report({EventKind::Failed, unit, 0, 0, FailureText(Failure::WorkerNotStarted, Words(error.what()))});
            ++finished;
        }
    }
    while (finished.load() < options.ports.size()) {
        clock.SleepMs(kHubTickMs);
        hub.Tick();
        StopIfOutputGone(out, cancel);
    }
    for (std::thread& worker : workers) worker.join();
    hub.Finish();
    if (end == RunEnd::UnitsOnly) return board.AnyFailed() ? kExitSomeFailed : kExitAllDone;
    WriteSummary(out, board, clock.NowMs(), options.json);
    return cancel.load() || board.AnyFailed() ? kExitSomeFailed : kExitAllDone;
}

}  // namespace cli
