// The commands of varnex: listing and probing ports, and running every unit's worker in
// parallel with one presenter and a summary (see Commands.h).
#include "cli/Commands.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
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
#include "common/Clock.h"
#include "download/EraseEngine.h"
#include "serial/LineSpeeds.h"
#include "serial/NetworkPortName.h"
#include "serial/PortList.h"

namespace cli {

namespace {

constexpr uint32_t kTickMs = 20;  // the main thread's wake-ups; the renderer throttles itself
using common::kMsPerSecond;

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

std::unique_ptr<Presenter> MakePresenter(const UnitsOptions& options, std::ostream& out, uint64_t startMs) {
    if (options.json) return std::make_unique<JsonEvents>(out, options.ports, startMs);
    if (ForcedTerminal() || StdoutIsTerminal()) return std::make_unique<LiveRenderer>(out, options.ports);
    return std::make_unique<PlainLines>(out, options.ports);
}

// A raw network port takes its line settings from the server: said once, as nothing here
// can check them.
void NoteRawPorts(const UnitsOptions& options, uint32_t baud, std::ostream& err) {
    for (const std::string& port : options.ports) {
        if (serial::IsRawNetworkPortName(port)) {
            err << "varnex: note: socket:// ports carry no line settings; varnex takes the server's to be " << baud
                << " baud, 8 data bits, odd parity, 1 stop bit and cannot check them" << std::endl;
            return;
        }
    }
}

// One unit's whole job, on its worker's thread.
using UnitJob = std::function<void(const UnitContext&)>;
// How a run's end is told: a download's and an erase's with the summary table; a service
// command's one unit has said how it ended, and the monitor's Ctrl-C is its end.
enum class RunEnd { Summary, UnitsOnly };

int RunUnits(const UnitsOptions& options, std::ostream& out, std::atomic<bool>& cancel, const UnitJob& job,
             RunEnd end) {
    common::Clock& clock = common::SteadyClock();
    UnitBoard board(options.ports);
    std::unique_ptr<Presenter> presenter = MakePresenter(options, out, clock.NowMs());
    EventHub hub(clock, *presenter, board);

    std::atomic<size_t> finished{0};
    std::vector<std::thread> workers;
    for (size_t unit = 0; unit < options.ports.size(); ++unit) {
        UnitContext context{unit, options.ports[unit], serial::OpenSerialPort, &clock, &hub, &cancel};
        try {
            workers.emplace_back([context, &job, &finished] {
                job(context);
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
    if (end == RunEnd::UnitsOnly) return board.AnyFailed() ? kExitSomeFailed : kExitAllDone;
    WriteSummary(out, board, clock.NowMs(), options.json);
    return cancel.load() || board.AnyFailed() ? kExitSomeFailed : kExitAllDone;
}

}  // namespace

int RunPortsCommand(const PortsOptions& options, std::ostream& out, std::ostream& err) {
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

int RunDownloadCommand(const DownloadOptions& options, std::ostream& out, std::ostream& err,
                       std::atomic<bool>& cancel) {
    ImageSource image;
    std::string error;
    if (!image.Load(options, &error)) {
        err << "varnex: " << error << std::endl;
        return kExitUsage;
    }
    DownloadPlan plan{image.Bytes(), options.baud, options.waitSeconds * kMsPerSecond, !options.noCtsWait};
    NoteRawPorts(options.units, options.baud, err);
    return RunUnits(
        options.units, out, cancel, [&plan](const UnitContext& context) { RunDownloadUnit(context, plan); },
        RunEnd::Summary);
}

int RunEraseCommand(const EraseOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel) {
    NoteRawPorts(options.units, download::kEraseBaudRate, err);
    return RunUnits(
        options.units, out, cancel, [](const UnitContext& context) { RunEraseUnit(context); }, RunEnd::Summary);
}

int RunServiceCommand(const ServiceOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel) {
    NoteRawPorts(options.units, serial::kLinkBaudRate, err);
    ServicePlan service{options.command, options.file, options.programName};
    return RunUnits(
        options.units, out, cancel, [&service](const UnitContext& context) { RunServiceUnit(context, service); },
        RunEnd::UnitsOnly);
}

}  // namespace cli
