// Starting the web board for varnex station (see WebBoard.h).
#include "cli/station/WebBoard.h"

#include <mutex>

#include "cli/records/RecordsOutput.h"
#include "cli/records/RecordsSince.h"
#include "cli/terminal/HostName.h"
#include "records/RecordStore.h"
#include "web/Token.h"

namespace cli {

namespace {

// The station's own records as the web board pages and charts them: opened on the first
// request, read-only; each answer reads no more rows than it gives (a page) or than the
// shift's bound (the figures).
class RecordsPages {
public:
    RecordsPages(std::string path, std::string station, std::string startedAt)
        : path_(std::move(path)), station_(std::move(station)), startedAt_(std::move(startedAt)) {}

    web::RecordsAnswer Query(const web::RecordsRequest& request, nlohmann::json* rows, std::string* error) {
        records::Filter filter;
        filter.since = request.since;
        if (!filter.since.empty() && !RecordsSince(&filter.since)) {
            *error = "since: give a date as 2026-12-08, or a time as 2026-12-08T06:30";
            return web::RecordsAnswer::BadRequest;
        }
        filter.port = request.port;
        filter.result = request.result;
        filter.station = station_;
        std::vector<records::Row> found;
        // One more than asked, so the server knows whether a next page follows.
        if (!Read(
                [&](records::RecordStore& store) {
                    return store.Page(filter, request.before, request.limit + 1, &found, error);
                },
                error)) {
            return web::RecordsAnswer::Unavailable;
        }
        for (const records::Row& row : found) rows->push_back(RowJson(row));
        return web::RecordsAnswer::Ok;
    }

    web::RecordsAnswer Summary(nlohmann::json* json, std::string* error) {
        records::ShiftFigures figures;
        if (!Read([&](records::RecordStore& store) { return store.Shift(station_, startedAt_, &figures, error); },
                  error)) {
            return web::RecordsAnswer::Unavailable;
        }
        *json = {{"station", station_},
                 {"since", startedAt_},
                 {"loaded_per_hour", figures.loadedPerHour},
                 {"failures_by_port", figures.failuresByPort},
                 {"failures_by_reason", figures.failuresByReason},
                 {"rows", figures.rows},
                 {"capped", figures.capped}};
        return web::RecordsAnswer::Ok;
    }

private:
    template <typename Use>
    bool Read(Use use, std::string* error) {
        std::lock_guard<std::mutex> hold(mutex_);
        if (!store_) store_ = records::RecordStore::Open(path_, records::Access::Read, error);
        if (store_ && use(*store_)) return true;
        store_.reset();  // opened afresh next time
        return false;
    }

    std::mutex mutex_;
    std::string path_;
    std::string station_;
    std::string startedAt_;
    std::unique_ptr<records::RecordStore> store_;
};

}  // namespace

bool WebServerOptions(const std::string& http, const std::string& tokenFile, web::ServerOptions* server,
                      std::string* error) {
    if (!web::ParseListenAddress(http, &server->address, error) ||
        (!tokenFile.empty() && !web::ReadTokenFile(tokenFile, &server->token, error)))
        return false;
    server->machineNames = {HostName()};
    server->startedAt = records::NowIsoUtc();
    return true;
}

std::unique_ptr<web::Server> StartWebBoard(const StationOptions& options, const std::string& station,
                                           const board::Board& board, common::Clock& clock, std::ostream& err,
                                           bool* failed) {
    *failed = false;
    if (options.http.empty()) return nullptr;
    web::ServerOptions server;
    std::string error;
    if (!WebServerOptions(options.http, options.httpTokenFile, &server, &error)) {
        err << "varnex: " << error << std::endl;
        *failed = true;
        return nullptr;
    }
    server.station = station;
    if (!options.records.empty()) {
        // The rows name their station as RunRow does: given, or the host's name.
        auto pages =
            std::make_shared<RecordsPages>(options.records, options.station.empty() ? HostName() : options.station,
                                           server.startedAt);
        server.records = [pages](const web::RecordsRequest& request, nlohmann::json* rows, std::string* why) {
            return pages->Query(request, rows, why);
        };
        server.summary = [pages](nlohmann::json* figures, std::string* why) { return pages->Summary(figures, why); };
    }
    std::unique_ptr<web::Server> started = web::Server::Start(server, board, clock, &error);
    if (!started) {
        err << "varnex: " << error << std::endl;
        *failed = true;
        return nullptr;
    }
    err << "varnex: web board at " << started->Url()
        << (server.token.empty() ? "" : " (open it once with ?token=... from the token file)") << std::endl;
    return started;
}

}  // namespace cli
