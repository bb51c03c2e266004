// The web board's HTTP server: the page, the board as JSON, its event stream and the
// station's records, read-only, for browsers on the line's network.
//
//   GET /                     the page (its style and script at /board.css, /board.js)
//   GET /api/state            the board as JSON
//   GET /api/events           Server-Sent Events as the board changes (see EventStream.h)
//   GET /api/records?since=&port=&result=&before=&limit=
//                             the station's records, newest first, a page at a time
//   GET /api/summary          the shift's figures, worked out by the station (see SummaryQuery)
//   GET /metrics              the station's figures for Prometheus (see Metrics.h)
//
// Serving the line (`varnex line`) instead, the same server answers
//   GET /                     the line page (line.js, line.css)
//   GET /api/line             every station and the shift's figures as JSON
//   GET /metrics              every station's figures for Prometheus
//
// GET and HEAD only. Requests are bounded in size, header count and the time taken to send
// them; at most kMaxEventStreams streams at once. The server's threads read copies of the
// board and never hold anything a port's thread waits for.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "board/Board.h"
#include "common/Clock.h"
#include "web/EventStream.h"
#include "web/Listen.h"

struct mg_context;
struct mg_connection;
struct mg_request_info;

namespace web {

inline constexpr size_t kMaxEventStreams = 32;
inline constexpr size_t kDefaultRecordsLimit = 100;
inline constexpr size_t kMaxRecordsLimit = 1000;

// A page of the records as /api/records asks for it.
struct RecordsRequest {
    std::string since;  // loads started on or after this date or time (ISO 8601); "" for all
    std::string port;
    std::string result;
    int64_t before = 0;  // only rows with a smaller id (the next page); 0 from the newest
    size_t limit = kDefaultRecordsLimit;
};

enum class RecordsAnswer { Ok, BadRequest, Unavailable };

// Fills *rows (a JSON array, newest first, at most limit + 1 rows, so that the server can tell
// whether another page follows) or *error; called on the server's threads.
using RecordsQuery = std::function<RecordsAnswer(const RecordsRequest&, nlohmann::json* rows, std::string* error)>;

// The shift's figures as JSON ({"loaded_per_hour": [...], "failures_by_port": {...},
// "failures_by_reason": {...}, "rows": n, "capped": false}) or *error; on the server's threads.
using SummaryQuery = std::function<RecordsAnswer(nlohmann::json* figures, std::string* error)>;

// The line page's answers, as its watcher last read them from the records server; called on
// the server's threads.
struct LinePages {
    std::function<std::string()> json;
    std::function<std::string()> metrics;
};

struct ServerOptions {
    ListenAddress address;
    std::string token;                      // "" for none
    std::vector<std::string> machineNames;  // the Host names this station answers to
    std::string startedAt;                  // the station's start, UTC ISO 8601
    std::string station;                    // the station's name, as its records carry it
    RecordsQuery records;                   // empty when the station keeps no records
    SummaryQuery summary;                   // likewise
    LinePages line;                         // set: the line page is served, and no board
};

class Server {
public:
    // Listens and serves; null with *error (the address and the system's reason) otherwise.
    static std::unique_ptr<Server> Start(const ServerOptions& options, const board::Board& board, common::Clock& clock,
                                         std::string* error);
    ~Server();  // stops: every stream ends, every thread is joined
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    uint16_t Port() const { return port_; }
    // What to open in a browser.
    const std::string& Url() const { return url_; }

private:
    Server(const ServerOptions& options, const board::Board& board, common::Clock& clock);
    static int OnRequest(mg_connection* connection);
    int Handle(mg_connection* connection, const mg_request_info& request);
    int ServeEvents(mg_connection* connection, bool headOnly);
    int ServeLine(mg_connection* connection, const std::string& path, bool headOnly);
    int ServeRecords(mg_connection* connection, const mg_request_info& request, bool headOnly);
    int ServeSummary(mg_connection* connection, bool headOnly);
    int Refuse(mg_connection* connection, int status, const std::string& why, bool headOnly,
               const std::string& extraHeaders = "");

    ServerOptions options_;
    const board::Board& board_;
    common::Clock& clock_;
    std::unique_ptr<HostCheck> hosts_;
    EventEncoder encoder_;  // every stream's events, encoded once
    mg_context* context_ = nullptr;
    uint16_t port_ = 0;
    std::string url_;
    std::atomic<size_t> streams_{0};
    std::atomic<bool> ready_{false};
    std::atomic<bool> stopping_{false};
};

}  // namespace web
