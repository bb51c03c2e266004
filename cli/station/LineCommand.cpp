// The line page (see LineCommand.h).
#include "cli/station/LineCommand.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "board/LineBoard.h"
#include "cli/output/FailureTexts.h"
#include "cli/station/WebBoard.h"
#include "common/Clock.h"
#include "records/LineRecords.h"
#include "records/RecordStore.h"
#include "web/Metrics.h"
#include "web/Server.h"

namespace cli {

namespace {

// The stations are read this often (they beat within a second of a change, every five
// seconds otherwise; silence shows after 15);
// the shift's figures, which read the shift's rows, less often.
constexpr auto kStationsEvery = std::chrono::milliseconds(1000);
constexpr auto kShiftEvery = std::chrono::milliseconds(30000);
constexpr uint32_t kStopLookMs = 200;

std::string Dump(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Reads the line on its own thread and keeps the page's answers.
class LineWatch {
public:
    LineWatch(const LineOptions& options, std::ostream& err)
        : records_(options.url), shiftHours_(options.shiftHours), err_(err) {
        server_.host = records::ServerName(options.url);
        server_.reason = "not read yet";
        Publish();
        thread_ = std::thread([this] { Run(); });
    }
    ~LineWatch() {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    LineWatch(const LineWatch&) = delete;
    LineWatch& operator=(const LineWatch&) = delete;

    std::string Json() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return json_;
    }
    std::string Metrics() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return metrics_;
    }

private:
    void Run() {
        auto shiftDue = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> hold(mutex_);
        while (!stopping_) {
            hold.unlock();
            Read(std::chrono::steady_clock::now() >= shiftDue);
            if (server_.reachable && std::chrono::steady_clock::now() >= shiftDue)
                shiftDue = std::chrono::steady_clock::now() + kShiftEvery;
            hold.lock();
            wake_.wait_for(hold, kStationsEvery, [this] { return stopping_; });
        }
    }

    // On the watcher's thread only: stations_, shift_ and server_ are its own.
    void Read(bool withShift) {
        records::ServerError error;
        const bool read =
            records_.Stations(&stations_, &error) && (!withShift || records_.Shift(shiftHours_, &shift_, &error));
        if (read) {
            server_.reachable = true;
            server_.reason.clear();
            server_.readAt = records::NowIsoUtc();
            saidPermanent_ = false;
        } else {
            server_.reachable = false;
            server_.reason = error.text;
            // Said once: a password or a missing table waits for someone to act.
            if (error.permanent && !saidPermanent_) {
                FailureDetails details = Words(error.text);
                details.name = server_.host;
                err_ << "varnex: " << FailureText(Failure::ServerNotRead, details) << std::endl;
            }
            saidPermanent_ = error.permanent;
        }
        Publish();
    }

    void Publish() {
        std::vector<web::StationSample> samples;
        for (const records::StationHeard& heard : stations_) {
            web::StationSample sample = web::SampleOf(board::HeardState(heard), heard.station);
            sample.fromHeartbeat = true;
            sample.up = board::PresenceOf(heard) == board::Presence::Up;
            sample.heartbeatSeconds = heard.heartbeatUnix;
            samples.push_back(std::move(sample));
        }
        std::string json = Dump(board::LineJson(stations_, shift_, shiftHours_, server_));
        std::string metrics = web::MetricsText(samples);
        std::lock_guard<std::mutex> hold(mutex_);
        json_ = std::move(json);
        metrics_ = std::move(metrics);
    }

    records::LineRecords records_;
    const int shiftHours_;
    std::ostream& err_;
    std::vector<records::StationHeard> stations_;
    records::LineShiftFigures shift_;
    board::LineServer server_;
    bool saidPermanent_ = false;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::string json_;
    std::string metrics_;
    std::thread thread_;
};

}  // namespace

int RunLineCommand(const LineOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel) {
    web::ServerOptions server;
    std::string error;
    if (!WebServerOptions(options.http, options.httpTokenFile, &server, &error)) {
        err << "varnex: " << error << std::endl;
        return kExitUsage;
    }
    LineWatch watch(options, err);
    server.line.json = [&watch] { return watch.Json(); };
    server.line.metrics = [&watch] { return watch.Metrics(); };
    common::Clock& clock = common::SteadyClock();
    const board::Board noPorts({}, "", clock.NowMs());  // the line has no ports of its own
    std::unique_ptr<web::Server> page = web::Server::Start(server, noPorts, clock, &error);
    if (!page) {
        err << "varnex: " << error << std::endl;
        return kExitUsage;
    }
    err << "varnex: line page at " << page->Url()
        << (server.token.empty() ? "" : " (open it once with ?token=... from the token file)") << std::endl;
    while (!cancel.load()) clock.SleepMs(kStopLookMs);
    page.reset();  // no request reads the watcher's answers once the server has stopped
    out << "line page stopped" << std::endl;
    return kExitAllDone;
}

}  // namespace cli
