// The commands of varnex: listing and probing ports, and running every unit's worker in
// parallel with one presenter and a summary (see Commands.h).
#include "cli/Commands.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <iomanip>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "board/Board.h"
#include "cli/ConsoleScreen.h"
#include "cli/EventHub.h"
#include "cli/FailureTexts.h"
#include "cli/Forwarding.h"
#include "cli/HostName.h"
#include "cli/Images.h"
#include "cli/JsonEvents.h"
#include "cli/LiveRenderer.h"
#include "cli/PlainLines.h"
#include "cli/PortsConfig.h"
#include "cli/RecordKeeping.h"
#include "cli/RecordsOutput.h"
#include "cli/ServiceWorker.h"
#include "cli/StationBoard.h"
#include "cli/StationEvents.h"
#include "cli/Summary.h"
#include "cli/Terminal.h"
#include "cli/UnitWorker.h"
#include "cli/WebBoard.h"
#include "common/Clock.h"
#include "common/Sha256.h"
#include "download/EraseEngine.h"
#include "records/PgConnection.h"
#include "records/RecordStore.h"
#include "records/ServerRecords.h"
#include "serial/LineSpeeds.h"
#include "serial/NetworkPortName.h"
#include "serial/PortList.h"
#include "station/PortCycle.h"

namespace cli {

namespace {

constexpr uint32_t kTickMs = 20;  // the main thread's wake-ups; the renderer throttles itself
// How often the board asks the forwarding how many rows wait (a count in the records file).
constexpr uint64_t kServerLookMs = 500;
using common::kMsPerSecond;

std::string Probe(const std::string& name) {
    serial::PortStatus status;
    std::unique_ptr<serial::SerialPort> port = serial::OpenSerialPort(name, &status);
    if (!port) {
        if (status.error == serial::PortError::Busy) return FailureText(Failure::ProbeBusy);
        return FailureText(Failure::ProbeNotOpened, PortFailure(status));
    }
    bool on = false;
    serial::PortStatus cts = port->ReadCts(&on);
    if (!cts.Ok()) return FailureText(Failure::ProbeCtsNotRead, PortFailure(cts));
    return on ? "CTS up: ready (a unit in its bootloader menu)" : "CTS down: no unit ready";
}

bool ForcedTerminal() {
    const char* value = std::getenv(kForceTerminalVariable);
    return value != nullptr && std::strcmp(value, "1") == 0;
}

// Asked once: a console is asked to take escape sequences on the first look.
TerminalKind OutputKind() {
    static const TerminalKind kind = StdoutTerminal();
    return kind;
}

bool OnTerminal() { return ForcedTerminal() || OutputKind() != TerminalKind::None; }

// Colour where escape sequences are taken, unless NO_COLOR is set to anything.
bool ColourWanted() {
    const char* noColour = std::getenv("NO_COLOR");
    return OutputKind() == TerminalKind::Vt && (noColour == nullptr || *noColour == '\0');
}

// A forced terminal (tests) that is not one has no size to read: 80 x 24.
board::TerminalSize OutputSize() { return OutputKind() != TerminalKind::None ? StdoutSize() : board::TerminalSize{}; }

// How frames reach the terminal on out: escape sequences, unless out is a console that has
// none (its own calls move the cursor, or nothing can).
std::unique_ptr<board::Screen> MakeScreen(std::ostream& out) {
    if (&out == &std::cout) {
        if (OutputKind() == TerminalKind::Console) {
            if (std::unique_ptr<Console> console = OpenStdoutConsole()) {
                return std::make_unique<ConsoleScreen>(std::move(console), out);
            }
            return std::make_unique<board::ScrollingScreen>(out);
        }
        if (OutputKind() == TerminalKind::Unmoving) return std::make_unique<board::ScrollingScreen>(out);
    }
    return std::make_unique<board::VtScreen>(out);
}

// The station's terminal board draws from the model; its events need no presenter.
class Unshown final : public Presenter {
public:
    void OnEvent(const UnitEvent&, uint64_t) override {}
};

std::unique_ptr<Presenter> MakePresenter(const UnitsOptions& options, std::ostream& out, uint64_t startMs) {
    if (options.json) return std::make_unique<JsonEvents>(out, options.ports, startMs);
    if (OnTerminal()) return std::make_unique<LiveRenderer>(MakeScreen(out), options.ports, OutputSize);
    return std::make_unique<PlainLines>(out, options.ports);
}

// Nobody is left to read how the run went: it ends as Ctrl-C ends it.
void StopIfOutputGone(std::ostream& out, std::atomic<bool>& cancel) {
    if (!out.good() || (&out == &std::cout && StdoutClosed())) cancel.store(true);
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

int RunUnits(const UnitsOptions& options, std::ostream& out, std::atomic<bool>& cancel, const UnitJob& job, RunEnd end,
             RecordKeeping* records = nullptr) {
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
        clock.SleepMs(kTickMs);
        hub.Tick();
        StopIfOutputGone(out, cancel);
    }
    for (std::thread& worker : workers) worker.join();
    hub.Finish();
    if (end == RunEnd::UnitsOnly) return board.AnyFailed() ? kExitSomeFailed : kExitAllDone;
    WriteSummary(out, board, clock.NowMs(), options.json);
    return cancel.load() || board.AnyFailed() ? kExitSomeFailed : kExitAllDone;
}

// Opens the records file a command was given, before any port is touched; false after the
// message when it cannot be used (a usage error).
bool OpenRecords(const std::string& path, std::ostream& err, std::shared_ptr<records::RecordStore>* store) {
    if (path.empty()) return true;
    std::string error;
    *store = records::RecordStore::Open(path, records::Access::Write, &error);
    if (*store) return true;
    err << "varnex: " << FailureText(Failure::RecordsNotUsable, Words(error)) << std::endl;
    return false;
}

// What every row of one run shares.
records::Row RunRow(const std::string& station) {
    records::Row row;
    row.station = station.empty() ? HostName() : station;
    row.version = kVersion;
    return row;
}

void DescribeImage(const DownloadOptions& options, const ImageBytes& bytes, records::Row* row);

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
    if (options.stationConfig) {
        out << StationConfigText(FixturesOf(ports));
        return kExitAllDone;
    }
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
        // The names that stay with the port across boots, for --port and a configuration.
        for (const std::string& name : port.byPath) out << "    by-path: " << name << std::endl;
        for (const std::string& name : port.byId) out << "    by-id:   " << name << std::endl;
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
    std::shared_ptr<records::RecordStore> store;
    if (!OpenRecords(options.units.records, err, &store)) return kExitUsage;
    records::Row row = RunRow("");
    DescribeImage(options, image.Bytes(), &row);
    row.baud = options.baud;
    std::unique_ptr<RecordKeeping> keeping;
    if (store) keeping = std::make_unique<RecordKeeping>(*store, row);
    DownloadPlan plan{image.Bytes(), options.baud, options.waitSeconds * kMsPerSecond, !options.noCtsWait};
    NoteRawPorts(options.units, options.baud, err);
    Forwarding forwarding(store, options.units.records, options.units.forward, err);
    const int code = RunUnits(
        options.units, out, cancel, [&plan](const UnitContext& context) { RunDownloadUnit(context, plan); },
        RunEnd::Summary, keeping.get());
    forwarding.Finish(out);
    return code;
}

int RunEraseCommand(const EraseOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel) {
    std::shared_ptr<records::RecordStore> store;
    if (!OpenRecords(options.units.records, err, &store)) return kExitUsage;
    records::Row row = RunRow("");
    row.operation = "erase";
    row.baud = download::kEraseBaudRate;
    std::unique_ptr<RecordKeeping> keeping;
    if (store) keeping = std::make_unique<RecordKeeping>(*store, row);
    NoteRawPorts(options.units, download::kEraseBaudRate, err);
    Forwarding forwarding(store, options.units.records, options.units.forward, err);
    const int code = RunUnits(
        options.units, out, cancel, [](const UnitContext& context) { RunEraseUnit(context); }, RunEnd::Summary,
        keeping.get());
    forwarding.Finish(out);
    return code;
}

int RunServiceCommand(const ServiceOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel) {
    NoteRawPorts(options.units, serial::kLinkBaudRate, err);
    ServicePlan service{options.command, options.file, options.programName};
    return RunUnits(
        options.units, out, cancel, [&service](const UnitContext& context) { RunServiceUnit(context, service); },
        RunEnd::UnitsOnly);
}

namespace {

// What the records say the image was: the choice, the image's own name, size and digest.
void DescribeImage(const DownloadOptions& options, const ImageBytes& bytes, records::Row* row) {
    row->imageSize = bytes.size;
    row->imageSha256 = common::Sha256Hex(bytes.data, bytes.size);
    switch (options.image) {
        case ImageChoice::Bootloader:
            row->operation = "bootloader";
            row->image = download::kBootloaderImage.name;
            break;
        case ImageChoice::Software:
            row->operation = "software";
            row->image = download::kSoftwareImage.name;
            break;
        case ImageChoice::File:
            row->operation = "image";
            row->image = options.imageFile;
            break;
    }
}

void WriteStationEnd(std::ostream& out, const station::StationGate& gate, const std::string& reason, bool json) {
    if (json) {
        nlohmann::json line = {{"event", "summary"},
                               {"loaded", gate.Loaded()},
                               {"failed", gate.Failed()},
                               {"stopped", gate.Stopped()},
                               {"reason", reason}};
        out << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
        return;
    }
    out << "station ended (" << reason << "): " << gate.Loaded() << (gate.Loaded() == 1 ? " unit" : " units")
        << " loaded, " << gate.Failed() << " failed";
    if (gate.Stopped() > 0) out << ", " << gate.Stopped() << " stopped";
    out << std::endl;
}

}  // namespace

int RunStationCommand(const StationOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel) {
    ImageSource image;
    std::string error;
    if (!image.Load(options.load, &error)) {
        err << "varnex: " << error << std::endl;
        return kExitUsage;
    }
    // Before any port is touched: a station whose records cannot be kept cannot work.
    std::shared_ptr<records::RecordStore> store;
    if (!OpenRecords(options.records, err, &store)) return kExitCannotWork;
    const ImageBytes bytes = image.Bytes();
    records::Row common = RunRow(options.station);
    DescribeImage(options.load, bytes, &common);
    common.baud = options.load.baud;
    // The operator's names for the ports on the board, in --json and in the records; the
    // devices only where the ports are opened.
    const std::vector<std::string>& ports = options.load.units.ports;
    const std::vector<std::string>& names = options.portNames.size() == ports.size() ? options.portNames : ports;
    std::map<std::string, std::string> nameOf;
    for (size_t index = 0; index < ports.size(); ++index) nameOf[ports[index]] = names[index];
    std::unique_ptr<RecordKeeping> keeping;
    if (store) keeping = std::make_unique<RecordKeeping>(*store, common, nameOf);

    Forwarding forwarding(store, options.records, options.forward, err);

    common::Clock& clock = common::SteadyClock();
    board::Board model(names, options.records, clock.NowMs());
    // Before any port is touched: an address that cannot be served is a usage error too.
    bool webFailed = false;
    std::unique_ptr<web::Server> webBoard = StartWebBoard(options, model, clock, err, &webFailed);
    if (webFailed) return kExitUsage;
    std::unique_ptr<Presenter> presenter;
    std::unique_ptr<StationBoard> screen;
    if (options.load.units.json) {
        presenter = std::make_unique<JsonEvents>(out, names, clock.NowMs());
    } else if (OnTerminal()) {
        presenter = std::make_unique<Unshown>();
        screen = std::make_unique<StationBoard>(MakeScreen(out), model, OutputSize, ColourWanted());
        WatchResizes();
    } else {
        presenter = std::make_unique<PlainLines>(out, names);
    }
    UnitBoard board(names);
    EventHub hub(clock, *presenter, board);
    station::StationGate gate({options.count, options.stopOnFailure}, &cancel);
    gate.WordStops([] { return std::string(StoppedWords(common::CurrentStopCause())); });

    std::vector<std::unique_ptr<StationEvents>> listeners;
    std::vector<std::unique_ptr<board::PortFeed>> feeds;
    std::vector<station::PortContext> contexts;
    for (size_t index = 0; index < ports.size(); ++index) {
        listeners.push_back(std::make_unique<StationEvents>(hub, index));
        feeds.push_back(std::make_unique<board::PortFeed>(model, index, clock, listeners.back().get()));
        station::PortContext context;
        context.port = ports[index];
        context.open = serial::OpenSerialPort;
        context.clock = &clock;
        context.listener = feeds.back().get();
        context.records = keeping.get();
        context.gate = &gate;
        context.plan = {bytes.data, bytes.size, options.load.baud};
        contexts.push_back(context);
    }
    std::atomic<size_t> finished{0};
    std::vector<std::thread> workers;
    for (size_t index = 0; index < contexts.size(); ++index) {
        try {
            workers.emplace_back([&contexts, index, &finished] {
                station::RunPortCycle(contexts[index]);
                ++finished;
            });
        } catch (const std::system_error& failure) {
            const std::string why = FailureText(Failure::WorkerNotStarted, Words(failure.what()));
            model.PortFailed(index, why, clock.NowMs());
            hub.Report({EventKind::Failed, index, 0, 0, why});
            gate.StopArming(FailureText(Failure::StationWorkerNotStarted));
            ++finished;
        }
    }
    bool recordsFailureTold = false;
    uint64_t serverLookedAt = 0;
    while (finished.load() < contexts.size()) {
        clock.SleepMs(kTickMs);
        hub.Tick();
        if (!options.forward.empty() && clock.NowMs() - serverLookedAt >= kServerLookMs) {
            serverLookedAt = clock.NowMs();
            const records::ForwardState server = forwarding.State();
            model.Server({server.host, server.waiting, server.reason}, serverLookedAt);
        }
        if (screen) screen->Tick(clock.NowMs(), TakeResized());
        StopIfOutputGone(out, cancel);
        // Said at once: the operator must not plug in units that will not be loaded.
        if (gate.RecordsFailed() && !recordsFailureTold) {
            err << "varnex: " << FailureText(Failure::LoadsFinishing, Words(gate.StopReason())) << std::endl;
            recordsFailureTold = true;
        }
    }
    for (std::thread& worker : workers) worker.join();
    hub.Finish();
    model.End(clock.NowMs());
    if (screen) screen->Finish(clock.NowMs());
    webBoard.reset();  // the open pages are told the station has ended, then the server stops
    const std::string reason = gate.StopReason().empty() || cancel.load() ? "stopped" : gate.StopReason();
    if (gate.RecordsFailed() && !recordsFailureTold) err << "varnex: " << gate.StopReason() << std::endl;
    WriteStationEnd(out, gate, reason, options.load.units.json);
    // The rows that wait are not lost: the exit code speaks of the units and the file alone.
    forwarding.Finish(out);
    if (gate.RecordsFailed()) return kExitCannotWork;
    return gate.Failed() > 0 || gate.Stopped() > 0 || workers.size() < contexts.size() ? kExitSomeFailed : kExitAllDone;
}

namespace {

int ListServerRecords(const RecordsOptions& options, const records::Filter& filter, std::ostream& out,
                      std::ostream& err) {
    records::ServerRecords server(options.file);
    std::vector<records::Row> rows;
    records::ServerError failure;
    if (!server.List(filter, &rows, &failure)) {
        FailureDetails details = Words(failure.text);
        details.name = records::ServerName(options.file);
        err << "varnex: " << FailureText(Failure::ServerNotRead, details) << std::endl;
        return kExitSomeFailed;
    }
    if (options.summary) WriteDaySummaries(out, records::SummariseRows(rows), options.format);
    else WriteRows(out, rows, options.format);
    return kExitAllDone;
}

}  // namespace

int RunRecordsCommand(const RecordsOptions& options, std::ostream& out, std::ostream& err) {
    if (options.forward) return ForwardFile(options.forwardFile, options.forwardUrl, out, err);
    records::Filter filter{options.since, options.port, options.result, options.station};
    if (records::IsServerUrl(options.file)) return ListServerRecords(options, filter, out, err);
    std::string error;
    std::unique_ptr<records::RecordStore> store =
        records::RecordStore::Open(options.file, records::Access::Read, &error);
    if (!store) {
        err << "varnex: " << FailureText(Failure::RecordsNotReadable, Words(error)) << std::endl;
        return kExitUsage;
    }
    bool read = false;
    if (options.summary) {
        std::vector<records::DaySummary> days;
        read = store->Summarise(filter, &days, &error);
        if (read) WriteDaySummaries(out, days, options.format);
    } else {
        std::vector<records::Row> rows;
        read = store->List(filter, &rows, &error);
        if (read) WriteRows(out, rows, options.format);
    }
    if (read) return kExitAllDone;
    err << "varnex: " << error << std::endl;
    return kExitSomeFailed;
}

}  // namespace cli
