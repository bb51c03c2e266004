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

// The records as the web board pages them: opened on the first request, read-only.
class RecordsPages {
public:
    explicit RecordsPages(std::string path) : path_(std::move(path)) {}

    web::RecordsAnswer Query(const web::RecordsRequest& request, nlohmann::json* rows, std::string* error) {
        records::Filter filter;
        filter.since = request.since;
        if (!filter.since.empty() && !RecordsSince(&filter.since)) {
            *error = "since: give a date as 2026-12-08, or a time as 2026-12-08T06:30";
            return web::RecordsAnswer::BadRequest;
        }
        filter.port = request.port;
        filter.result = request.result;
        std::vector<records::Row> found;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (!store_) store_ = records::RecordStore::Open(path_, records::Access::Read, error);
            if (!store_ || !store_->List(filter, &found, error)) {
                store_.reset();  // opened afresh next time
                return web::RecordsAnswer::Unavailable;
            }
        }
        // Oldest first from the store: the newest below "before", one more than asked so the
        // server knows whether a next page follows.
        for (auto row = found.rbegin(); row != found.rend() && rows->size() <= request.limit; ++row) {
            if (request.before != 0 && row->id >= request.before) continue;
            rows->push_back(RowJson(*row));
        }
        return web::RecordsAnswer::Ok;
    }

private:
    std::mutex mutex_;
    std::string path_;
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
        auto pages = std::make_shared<RecordsPages>(options.records);
        server.records = [pages](const web::RecordsRequest& request, nlohmann::json* rows, std::string* why) {
            return pages->Query(request, rows, why);
        };
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
