// The web board's server on civetweb (see Server.h): every request goes through one handler
// that checks the method, the header count, the Host and the token before it serves anything.
#include "web/Server.h"

#include <civetweb.h>

#include <cstring>
#include <mutex>

#include "web/EventStream.h"
#include "web/Metrics.h"
#include "web/PageFiles.h"
#include "web/Token.h"

namespace web {

namespace {

// civetweb's worker threads: one per event stream and the rest for everything else, so that a
// full house of streams still leaves the page and the API served while idle sockets (a
// browser opens spare connections ahead) wait out their time for a request.
constexpr size_t kOtherRequestThreads = 24;
// Accepted connections waiting for a free thread; beyond it the system's backlog holds them.
constexpr const char* kConnectionQueue = "64";
// A request (its line and headers) must be whole within this time and size, so that a socket
// that sends nothing holds a thread no longer; a write that makes no progress for this long
// (a reader that never reads) ends its connection, and its page connects again.
constexpr const char* kRequestTimeoutMs = "2000";
constexpr const char* kMaxRequestBytes = "8192";
constexpr int kMaxHeaders = 40;  // civetweb keeps at most 64; more than this is refused
// An event stream looks for the server's end this often while the board is quiet.
constexpr uint32_t kStreamWaitSliceMs = 500;
constexpr uint64_t kHeartbeatMs = 15000;
constexpr uint64_t kEndGraceMs = 2000;
constexpr uint32_t kEndPollMs = 20;
constexpr int kBusyRetrySeconds = 10;
constexpr size_t kQueryValueBytes = 512;
constexpr int kValueTooLong = -2;  // mg_get_var's answer when the value does not fit
constexpr size_t kMaxIdDigits = 18;

constexpr int kOk = 200;
constexpr int kSeeOther = 303;
constexpr int kBadRequest = 400;
constexpr int kUnauthorized = 401;
constexpr int kForbidden = 403;
constexpr int kNotFound = 404;
constexpr int kMethodNotAllowed = 405;
constexpr int kHeaderFieldsTooLarge = 431;
constexpr int kServiceUnavailable = 503;

// Sent with every answer, civetweb's own error pages included: the page may load only from
// the station itself, is never framed, never sniffed and never tells another site it was here.
constexpr const char* kSecurityHeaders =
    "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "X-Frame-Options: DENY\r\n"
    "Cache-Control: no-store";

constexpr const char* kJsonType = "application/json; charset=utf-8";
constexpr const char* kTextType = "text/plain; charset=utf-8";

std::string Dump(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void InitLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mg_init_library(0); });
}

// Writes the text whole (civetweb's printf is the C library's, whose formats differ between
// platforms, so headers are built here).
bool Write(mg_connection* connection, const std::string& text) {
    return mg_write(connection, text.data(), text.size()) == static_cast<int>(text.size());
}

std::string StatusLine(mg_connection* connection, int status) {
    return "HTTP/1.1 " + std::to_string(status) + " " + mg_get_response_code_text(connection, status) + "\r\n";
}

// The headers and (unless HEAD) the body of a whole answer; the status is what the handler returns.
int Send(mg_connection* connection, int status, const char* type, const std::string& body, bool headOnly,
         const std::string& extraHeaders = "") {
    std::string head = StatusLine(connection, status) + "Content-Type: " + type +
                       "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + kSecurityHeaders + "\r\n" +
                       extraHeaders + "Connection: close\r\n\r\n";
    Write(connection, headOnly ? head : head + body);
    return status;
}

// A query parameter's value, decoded; false when it is absent or (*tooLong set) too long.
bool QueryValue(const char* query, const char* name, std::string* value, bool* tooLong = nullptr) {
    if (query == nullptr) return false;
    char buffer[kQueryValueBytes];
    const int length = mg_get_var(query, std::strlen(query), name, buffer, sizeof buffer);
    if (length == kValueTooLong && tooLong != nullptr) *tooLong = true;
    if (length < 0) return false;
    value->assign(buffer, static_cast<size_t>(length));
    return true;
}

// The line page's own files (line.html, line.js, line.css) are served by the line alone, the
// board's by a station alone.
constexpr const char* kLinePage = "line.html";
constexpr const char* kSharedStyle = "/board.css";
bool IsLineFile(const std::string& path) { return path.rfind("/line.", 0) == 0; }

bool ParseCount(const std::string& text, uint64_t* number) {
    if (text.empty() || text.size() > kMaxIdDigits) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    *number = std::stoull(text);
    return true;
}

}  // namespace

Server::Server(const ServerOptions& options, const board::Board& board, common::Clock& clock)
    : options_(options), board_(board), clock_(clock), encoder_(options.startedAt) {}

std::unique_ptr<Server> Server::Start(const ServerOptions& options, const board::Board& board, common::Clock& clock,
                                      std::string* error) {
    InitLibraryOnce();
    std::unique_ptr<Server> server(new Server(options, board, clock));
    const std::string listening = ListeningSpec(options.address);
    const std::string threads = std::to_string(kMaxEventStreams + kOtherRequestThreads);
    const char* configuration[] = {"listening_ports",
                                   listening.c_str(),
                                   "num_threads",
                                   threads.c_str(),
                                   "connection_queue",
                                   kConnectionQueue,
                                   "request_timeout_ms",
                                   kRequestTimeoutMs,
                                   "max_request_size",
                                   kMaxRequestBytes,
                                   "enable_keep_alive",
                                   "no",
                                   "tcp_nodelay",
                                   "1",
                                   "decode_url",
                                   "yes",
                                   "additional_header",
                                   kSecurityHeaders,
                                   nullptr};
    mg_callbacks callbacks{};
    callbacks.begin_request = &Server::OnRequest;
    // civetweb's own complaints (a dropped client, a refused request) are the client's
    // business: nothing is written over the station's board.
    callbacks.log_message = [](const mg_connection*, const char*) { return 1; };
    mg_init_data init{};
    init.callbacks = &callbacks;
    init.user_data = server.get();
    init.configuration_options = configuration;
    char text[256] = {};
    mg_error_data failure{};
    failure.text = text;
    failure.text_buffer_size = sizeof text;
    server->context_ = mg_start2(&init, &failure);
    if (server->context_ == nullptr) {
        *error = "--http " + listening + ": cannot listen there (" +
                 (text[0] != '\0' ? std::string(text) : std::string("the address is in use or not this machine's")) +
                 ")";
        return nullptr;
    }
    mg_server_port bound{};
    if (mg_get_server_ports(server->context_, 1, &bound) < 1) {
        *error = "--http " + listening + ": the server has no port";
        return nullptr;
    }
    server->port_ = static_cast<uint16_t>(bound.port);
    server->hosts_ = std::make_unique<HostCheck>(options.address, server->port_, options.machineNames);
    server->url_ = UrlToOpen(options.address, server->port_,
                             options.machineNames.empty() ? std::string("localhost") : options.machineNames.front());
    server->ready_.store(true, std::memory_order_release);
    return server;
}

Server::~Server() {
    // When the station has ended, the open streams send their last events ("end") first.
    if (board_.Snapshot(clock_.NowMs()).ended) {
        const uint64_t giveUpMs = clock_.NowMs() + kEndGraceMs;
        while (streams_.load() > 0 && clock_.NowMs() < giveUpMs) clock_.SleepMs(kEndPollMs);
    }
    stopping_.store(true);
    if (context_ != nullptr) mg_stop(context_);
}

int Server::OnRequest(mg_connection* connection) {
    Server* server = static_cast<Server*>(mg_get_user_data(mg_get_context(connection)));
    const mg_request_info* request = mg_get_request_info(connection);
    if (server == nullptr || request == nullptr) return kServiceUnavailable;
    // Until Start has finished (the port known, the Host check made), nothing is served.
    if (!server->ready_.load(std::memory_order_acquire)) {
        return Send(connection, kServiceUnavailable, kTextType, "starting\n", false);
    }
    return server->Handle(connection, *request);
}

int Server::Refuse(mg_connection* connection, int status, const std::string& why, bool headOnly,
                   const std::string& extraHeaders) {
    return Send(connection, status, kTextType, why + "\n", headOnly, extraHeaders);
}

int Server::Handle(mg_connection* connection, const mg_request_info& request) {
    const std::string method = request.request_method != nullptr ? request.request_method : "";
    const bool headOnly = method == "HEAD";
    if (method != "GET" && !headOnly) {
        return Refuse(connection, kMethodNotAllowed, "this board is read-only: GET and HEAD only", false,
                      "Allow: GET, HEAD\r\n");
    }
    if (request.num_headers > kMaxHeaders) {
        return Refuse(connection, kHeaderFieldsTooLarge, "too many header fields", headOnly);
    }
    const char* host = mg_get_header(connection, "Host");
    if (host == nullptr || !hosts_->Allows(host)) {
        return Refuse(connection, kForbidden, "this station does not answer to that host name", headOnly);
    }
    const std::string path = request.local_uri != nullptr ? request.local_uri : "";
    std::string renew;
    if (!options_.token.empty()) {
        std::string offered;
        if (path == "/" && QueryValue(request.query_string, "token", &offered)) {
            if (!SameToken(offered, options_.token)) return Refuse(connection, kUnauthorized, "wrong token", headOnly);
            // Kept as a cookie, and the token leaves the address bar (and the browser's history).
            return Send(connection, kSeeOther, kTextType, "", headOnly,
                        "Location: /\r\nSet-Cookie: " + TokenCookie(options_.token) + "\r\n");
        }
        const char* cookie = mg_get_header(connection, "Cookie");
        const std::string carried = TokenOf(cookie, mg_get_header(connection, "Authorization"));
        if (!SameToken(carried, options_.token)) {
            return Refuse(connection, kUnauthorized,
                          "this station's board needs its token: open /?token=... once in this browser", headOnly,
                          "WWW-Authenticate: Bearer\r\n");
        }
        // The cookie's lifetime starts again with each use of the page (a board left open for
        // months reads its state on every reconnection).
        if (SameToken(TokenOf(cookie, nullptr), options_.token)) {
            renew = "Set-Cookie: " + TokenCookie(options_.token) + "\r\n";
        }
    }
    if (options_.line.json) return ServeLine(connection, path, headOnly);
    if (path == "/api/state") {
        const board::StationState state = board_.Snapshot(clock_.NowMs());
        return Send(connection, kOk, kJsonType, Dump(StateJson(state, options_.startedAt)), headOnly, renew);
    }
    if (path == "/api/events") return ServeEvents(connection, headOnly);
    if (path == "/metrics") {
        const board::StationState state = board_.Snapshot(clock_.NowMs());
        return Send(connection, kOk, kMetricsType, MetricsText({SampleOf(state, options_.station)}), headOnly);
    }
    if (path == "/api/records") return ServeRecords(connection, request, headOnly);
    if (path == "/api/summary") return ServeSummary(connection, headOnly);
    const PageFile* file = FindPageFile(path == "/" ? "index.html" : path.substr(1));
    if (file == nullptr || path == "/index.html" || IsLineFile(path))
        return Refuse(connection, kNotFound, "no such page", headOnly);
    return Send(connection, kOk, PageFileType(file->name), std::string(file->data, file->size), headOnly,
                path == "/" ? renew : std::string());
}

int Server::ServeLine(mg_connection* connection, const std::string& path, bool headOnly) {
    if (path == "/api/line") return Send(connection, kOk, kJsonType, options_.line.json(), headOnly);
    if (path == "/metrics") return Send(connection, kOk, kMetricsType, options_.line.metrics(), headOnly);
    // The line page takes the board's style and adds its own.
    const bool served = IsLineFile(path) || path == kSharedStyle;
    const PageFile* file = served ? FindPageFile(path.substr(1)) : nullptr;
    if (path == "/") file = FindPageFile(kLinePage);
    if (file == nullptr || path == std::string("/") + kLinePage)
        return Refuse(connection, kNotFound, "no such page", headOnly);
    return Send(connection, kOk, PageFileType(file->name), std::string(file->data, file->size), headOnly);
}

int Server::ServeEvents(mg_connection* connection, bool headOnly) {
    if (streams_.fetch_add(1) >= kMaxEventStreams) {
        streams_.fetch_sub(1);
        return Refuse(connection, kServiceUnavailable, "too many live boards open on this station", headOnly,
                      "Retry-After: " + std::to_string(kBusyRetrySeconds) + "\r\n");
    }
    struct Release {
        std::atomic<size_t>& count;
        ~Release() { count.fetch_sub(1); }
    } release{streams_};
    if (!Write(connection, StatusLine(connection, kOk) + "Content-Type: text/event-stream\r\n" + kSecurityHeaders +
                               "\r\nX-Accel-Buffering: no\r\nConnection: close\r\n\r\n") ||
        headOnly) {
        return kOk;
    }
    EventStream stream(encoder_);
    uint64_t seen = 0;
    uint64_t lastWriteMs = clock_.NowMs();
    while (!stopping_.load()) {
        // The first stream to wake for a change takes the copy and encodes it for all.
        seen = board_.Sequence();
        if (seen > encoder_.Latest() || encoder_.Latest() == 0) encoder_.Take(board_.Snapshot(clock_.NowMs()));
        const std::string text = stream.Next();
        if (!text.empty()) {
            if (!Write(connection, text)) break;
            lastWriteMs = clock_.NowMs();
        }
        if (stream.Ended()) break;
        // Copies are read only when the board has moved; a quiet board gets a heartbeat.
        while (!stopping_.load() && board_.WaitForChange(seen, kStreamWaitSliceMs) == seen) {
            if (clock_.NowMs() - lastWriteMs < kHeartbeatMs) continue;
            if (!Write(connection, kHeartbeat)) return kOk;
            lastWriteMs = clock_.NowMs();
        }
    }
    return kOk;
}

int Server::ServeSummary(mg_connection* connection, bool headOnly) {
    if (!options_.summary) {
        return Send(connection, kNotFound, kJsonType, Dump({{"error", "this station keeps no records"}}), headOnly);
    }
    nlohmann::json figures;
    std::string error;
    if (options_.summary(&figures, &error) != RecordsAnswer::Ok) {
        return Send(connection, kServiceUnavailable, kJsonType, Dump({{"error", error}}), headOnly);
    }
    return Send(connection, kOk, kJsonType, Dump(figures), headOnly);
}

int Server::ServeRecords(mg_connection* connection, const mg_request_info& request, bool headOnly) {
    if (!options_.records) {
        return Send(connection, kNotFound, kJsonType, Dump({{"error", "this station keeps no records"}}), headOnly);
    }
    RecordsRequest asked;
    const char* query = request.query_string;
    // A filter cut short would widen the answer, so a value too long is refused.
    bool tooLong = false;
    QueryValue(query, "since", &asked.since, &tooLong);
    QueryValue(query, "port", &asked.port, &tooLong);
    QueryValue(query, "result", &asked.result, &tooLong);
    if (tooLong) {
        return Send(connection, kBadRequest, kJsonType,
                    Dump({{"error", "a filter longer than " + std::to_string(kQueryValueBytes - 1) + " bytes"}}),
                    headOnly);
    }
    std::string number;
    uint64_t value = 0;
    if (QueryValue(query, "limit", &number)) {
        if (!ParseCount(number, &value) || value < 1 || value > kMaxRecordsLimit) {
            return Send(connection, kBadRequest, kJsonType,
                        Dump({{"error", "limit: give 1 to " + std::to_string(kMaxRecordsLimit)}}), headOnly);
        }
        asked.limit = static_cast<size_t>(value);
    }
    if (QueryValue(query, "before", &number)) {
        if (!ParseCount(number, &value) || value < 1) {
            return Send(connection, kBadRequest, kJsonType, Dump({{"error", "before: give a record's id"}}), headOnly);
        }
        asked.before = static_cast<int64_t>(value);
    }
    nlohmann::json rows = nlohmann::json::array();
    std::string error;
    const RecordsAnswer answer = options_.records(asked, &rows, &error);
    if (answer == RecordsAnswer::BadRequest)
        return Send(connection, kBadRequest, kJsonType, Dump({{"error", error}}), headOnly);
    if (answer == RecordsAnswer::Unavailable) {
        return Send(connection, kServiceUnavailable, kJsonType, Dump({{"error", error}}), headOnly);
    }
    nlohmann::json page = {{"records", rows}, {"next_before", nullptr}};
    if (rows.size() > asked.limit) {
        rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(asked.limit), rows.end());
        page["records"] = rows;
        page["next_before"] = rows.back()["id"];
    }
    return Send(connection, kOk, kJsonType, Dump(page), headOnly);
}

}  // namespace web
