// The station put together (see StationCommand.h).
#include "cli/station/StationCommand.h"

#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "board/Board.h"
#include "board/StationSummary.h"
#include "cli/load/Images.h"
#include "cli/output/EventHub.h"
#include "cli/output/FailureTexts.h"
#include "cli/output/JsonEvents.h"
#include "cli/output/PlainLines.h"
#include "cli/output/UnitBoard.h"
#include "cli/records/Forwarding.h"
#include "cli/records/RecordKeeping.h"
#include "cli/station/StationBoard.h"
#include "cli/station/LoadHistory.h"
#include "cli/station/StationEvents.h"
#include "cli/station/StationScanners.h"
#include "cli/station/WebBoard.h"
#include "cli/terminal/HostName.h"
#include "cli/terminal/StdoutScreen.h"
#include "cli/terminal/Terminal.h"
#include "common/Clock.h"
#include "records/RecordStore.h"
#include "serial/SerialPort.h"
#include "station/PortCycle.h"

namespace cli {

namespace {

// How often the board asks the forwarding how many rows wait (a count in the records file).
constexpr uint64_t kServerLookMs = 500;

// The station's terminal board draws from the model; its events need no presenter.
class Unshown final : public Presenter {
public:
    void OnEvent(const UnitEvent&, uint64_t) override {}
};

// What the station's heartbeat says of it: who and where it is, and its board in brief.
records::Heartbeat StationBeat(const std::string& station, const web::Server* webBoard) {
    records::Heartbeat beat;
    beat.station = station;
    beat.host = HostName();
    beat.version = kVersion;
    beat.startedAt = records::NowIsoUtc();
    if (webBoard != nullptr) beat.boardUrl = webBoard->Url();
    return beat;
}

void DescribeStation(Forwarding& forwarding, records::Heartbeat* beat, const board::StationState& state) {
    beat->state = board::SummaryJson(state).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    beat->ended = state.ended;
    forwarding.Describe(*beat);
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
    StationScanners scanners;
    std::string scannersError;
    if (!scanners.Prepare(options.scanners, ports.size(), &scannersError)) {
        err << "varnex: " << scannersError << std::endl;
        return kExitUsage;
    }
    // Where a scanned unit's earlier loads are looked up: this file and the line's server.
    RecordsHistory history(store.get(), options.forward, clock);
    const bool lookUp = options.scanners.Any() && (store || !options.forward.empty());
    board::Board model(names, options.records, clock.NowMs());
    // Before any port is touched: an address that cannot be served is a usage error too.
    bool webFailed = false;
    std::unique_ptr<web::Server> webBoard = StartWebBoard(options, common.station, model, clock, err, &webFailed);
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
        context.serials = scanners.RulesFor(index, lookUp ? &history : nullptr);
        contexts.push_back(context);
    }
    scanners.Start(serial::OpenSerialPort, clock);
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
    std::string notice;  // told during the station
    uint64_t serverLookedAt = 0;
    records::Heartbeat beat = StationBeat(common.station, webBoard.get());
    while (finished.load() < contexts.size()) {
        clock.SleepMs(kHubTickMs);
        hub.Tick();
        if (!options.forward.empty() && clock.NowMs() - serverLookedAt >= kServerLookMs) {
            serverLookedAt = clock.NowMs();
            const records::ForwardState server = forwarding.State();
            model.Server({server.host, server.waiting, server.reason, server.errors}, serverLookedAt);
            DescribeStation(forwarding, &beat, model.Snapshot(serverLookedAt));
        }
        if (screen) screen->Tick(clock.NowMs(), TakeResized());
        StopIfOutputGone(out, cancel);
        // Said at once: the operator must not plug in units that will not be loaded. On the
        // terminal's board it is the board's last line (written between its frames it would
        // break them apart) and whole below the final frame; the web board shows it too.
        if (gate.RecordsFailed() && !recordsFailureTold) {
            notice = FailureText(Failure::LoadsFinishing, Words(gate.StopReason()));
            model.Notice(notice, clock.NowMs());
            if (!screen) err << "varnex: " << notice << std::endl;
            recordsFailureTold = true;
        }
    }
    for (std::thread& worker : workers) worker.join();
    hub.Finish();
    model.End(clock.NowMs());
    DescribeStation(forwarding, &beat, model.Snapshot(clock.NowMs()));
    if (screen) screen->Finish(clock.NowMs());
    if (screen && !notice.empty()) err << "varnex: " << notice << std::endl;
    webBoard.reset();  // the open pages are told the station has ended, then the server stops
    const std::string reason = gate.StopReason().empty() || cancel.load() ? "stopped" : gate.StopReason();
    if (gate.RecordsFailed() && !recordsFailureTold) err << "varnex: " << gate.StopReason() << std::endl;
    WriteStationEnd(out, gate, reason, options.load.units.json);
    // The rows that wait are not lost: the exit code speaks of the units and the file alone.
    forwarding.Finish(out);
    if (gate.RecordsFailed()) return kExitCannotWork;
    return gate.Failed() > 0 || gate.Stopped() > 0 || workers.size() < contexts.size() ? kExitSomeFailed : kExitAllDone;
}

}  // namespace cli
