// The commands of varnex: listing and probing ports, and running every unit's worker in
// parallel with one presenter and a summary (see Commands.h).
#include "cli/Commands.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iomanip>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/EventHub.h"
#include "cli/Images.h"
#include "cli/JsonEvents.h"
#include "cli/LiveRenderer.h"
#include "cli/PlainLines.h"
#include "cli/ServiceWorker.h"
#include "cli/Summary.h"
#include "cli/Terminal.h"
#include "cli/UnitWorker.h"
#include "serial/PortList.h"

namespace cli {

namespace {

constexpr uint32_t kTickMs = 20;  // the main thread's wake-ups; the renderer throttles itself
constexpr uint32_t kMsPerSecond = 1000;

std::string Probe(const std::string& name) {
    serial::PortStatus status;
    std::unique_ptr<serial::SerialPort> port = serial::OpenSerialPort(name, &status);
    if (!port) {
        if (status.error == serial::PortError::Busy) return "busy: another program holds it";
        return std::string("cannot open: ") + serial::PortErrorName(status.error) + " (" + status.text + ")";
    }
    bool on = false;
    serial::PortStatus cts = port->ReadCts(&on);
    if (!cts.Ok()) return std::string("cannot read CTS: ") + serial::PortErrorName(cts.error) + " (" + cts.text + ")";
    return on ? "CTS up: ready (a unit in its bootloader menu)" : "CTS down: no unit ready";
}

bool ForcedTerminal() {
    const char* value = std::getenv(kForceTerminalVariable);
    return value != nullptr && std::strcmp(value, "1") == 0;
}

std::unique_ptr<Presenter> MakePresenter(const Options& options, std::ostream& out, uint64_t startMs) {
    if (options.json) return std::make_unique<JsonEvents>(out, options.ports, startMs);
    if (ForcedTerminal() || StdoutIsTerminal()) return std::make_unique<LiveRenderer>(out, options.ports);
    return std::make_unique<PlainLines>(out, options.ports);
}

}  // namespace

int RunPortsCommand(const Options& options, std::ostream& out, std::ostream& err) {
    if (!options.remember.empty()) {
        std::string error;
        if (!serial::RememberPort(options.remember, &error)) {
            err << "varnex: " << error << std::endl;
            return kExitSomeFailed;
        }
        out << options.remember << " is now the port the wizard opens at its next start" << std::endl;
        return kExitAllDone;
    }
    std::vector<serial::PortInfo> ports = serial::ListSerialPorts();
    if (ports.empty()) {
        out << "no serial ports found" << std::endl;
        return kExitAllDone;
    }
    size_t width = 0;
    for (const serial::PortInfo& port : ports) width = std::max(width, port.name.size());
    for (const serial::PortInfo& port : ports) {
        out << std::left << std::setw(static_cast<int>(width + 2)) << port.name << port.description;
        if (options.probe) out << "  [" << Probe(port.name) << "]";
        out << std::endl;
    }
    return kExitAllDone;
}

int RunUnitsCommand(const Options& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel) {
    common::Clock& clock = common::SteadyClock();
    ImageSource image;
    if (options.command == Command::Download) {
        std::string error;
        if (!image.Load(options, &error)) {
            err << "varnex: " << error << std::endl;
            return kExitUsage;
        }
    }
    UnitBoard board(options.ports);
    std::unique_ptr<Presenter> presenter = MakePresenter(options, out, clock.NowMs());
    EventHub hub(clock, *presenter, board);
    DownloadPlan plan{image.Bytes(), options.baud, options.waitSeconds * kMsPerSecond};
    ServicePlan service{options.command, options.file, options.programName};

    std::atomic<size_t> finished{0};
    std::vector<std::thread> workers;
    for (size_t unit = 0; unit < options.ports.size(); ++unit) {
        UnitContext context{unit, options.ports[unit], serial::OpenSerialPort, &clock, &hub, &cancel};
        try {
            workers.emplace_back([context, &options, &plan, &service, &finished] {
                if (IsServiceCommand(options.command)) {
                    RunServiceUnit(context, service);
                } else if (options.command == Command::Download) {
                    RunDownloadUnit(context, plan);
                } else {
                    RunEraseUnit(context);
                }
                ++finished;
            });
        } catch (const std::system_error& error) {
            hub.Report({EventKind::Failed, unit, 0, 0, std::string("cannot start a worker: ") + error.what()});
            ++finished;
        }
    }
    while (finished.load() < options.ports.size()) {
        clock.SleepMs(kTickMs);
        hub.Tick();
        // Nobody is left to read how the run went: it ends as Ctrl-C ends it.
        if (!out.good() || (&out == &std::cout && StdoutClosed())) cancel.store(true);
    }
    for (std::thread& worker : workers) worker.join();
    hub.Finish();
    // A service command's one unit has said how it ended; the monitor's Ctrl-C is its end.
    if (IsServiceCommand(options.command)) return board.AnyFailed() ? kExitSomeFailed : kExitAllDone;
    WriteSummary(out, board, clock.NowMs(), options.json);
    return cancel.load() || board.AnyFailed() ? kExitSomeFailed : kExitAllDone;
}

}  // namespace cli
