// The web board: the --http address, the Host check, the token, the event stream's events,
// and the server itself on a real socket: what it serves, what it refuses (writes, other
// hosts, malformed, oversized and header-stuffed requests, a 33rd event stream, a missing
// token) and a stream that follows the board to the station's end.
#include <gtest/gtest.h>

#include <atomic>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "board/Board.h"
#include "common/Clock.h"
#include "web/EventStream.h"
#include "web/Listen.h"
#include "web/Server.h"
#include "web/Token.h"
#include "HttpClient.h"

namespace {

using http_client::Client;
using http_client::Get;
using http_client::Status;

constexpr size_t kIdleSockets = 16;
const std::vector<std::string> kPorts = {"/dev/ttyUSB0", "/dev/ttyUSB1"};
const std::string kToken = "0123456789abcdef-token";

TEST(WebAddress, ReadsPortsAddressesAndNamesAndRefusesTheRest) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        uint16_t port;
    } cases[] = {
        {"8417", true, "127.0.0.1", 8417}, {"0.0.0.0:8417", true, "0.0.0.0", 8417},
        {"[::1]:80", true, "::1", 80},     {"station7.local:9000", true, "station7.local", 9000},
        {"0", true, "127.0.0.1", 0},       {"65535", true, "127.0.0.1", 65535},
        {"70000", false, "", 0},           {"", false, "", 0},
        {"::1:8417", false, "", 0},        {"host name:1", false, "", 0},
        {"1.2.3.4:", false, "", 0},        {"[bad]:1", false, "", 0},
        {"8417x", false, "", 0},
    };
    for (const Case& c : cases) {
        web::ListenAddress address;
        std::string error;
        EXPECT_EQ(web::ParseListenAddress(c.text, &address, &error), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_NE(error.find("--http"), std::string::npos) << c.text;
            continue;
        }
        EXPECT_EQ(address.host, c.host);
        EXPECT_EQ(address.port, c.port);
    }
    web::ListenAddress any;
    std::string error;
    ASSERT_TRUE(web::ParseListenAddress("0.0.0.0:8417", &any, &error));
    EXPECT_EQ(web::UrlToOpen(any, 8417, "station7"), "http://station7:8417/");
    ASSERT_TRUE(web::ParseListenAddress("[::1]:8417", &any, &error));
    EXPECT_EQ(web::ListeningSpec(any), "[::1]:8417");
}

TEST(WebHostCheck, AnswersItsOwnNamesAndAddressesOnly) {
    web::ListenAddress address;
    std::string error;
    ASSERT_TRUE(web::ParseListenAddress("0.0.0.0:8417", &address, &error));
    web::HostCheck check(address, 8417, {"Station7"});
    for (const char* host :
         {"127.0.0.1:8417", "10.0.4.17:8417", "[::1]:8417", "localhost:8417", "station7:8417", "STATION7.:8417"}) {
        EXPECT_TRUE(check.Allows(host)) << host;
    }
    for (const char* host : {"attacker.example:8417", "station7.attacker.example:8417", "127.0.0.1:8418", "127.0.0.1",
                             "", "station7:", "localhost:8417:1"}) {
        EXPECT_FALSE(check.Allows(host)) << host;
    }
    // The name the board was told to listen on is one of its own, whatever the machine's name.
    ASSERT_TRUE(web::ParseListenAddress("board.line3:65535", &address, &error));
    web::HostCheck named(address, 65535, {"station7"});
    EXPECT_TRUE(named.Allows("board.line3:65535"));
    EXPECT_FALSE(named.Allows("board.line4:65535"));
}

TEST(WebToken, ComparesWholeTokensFindsThemInACookieOrBearerAndReadsOnlySoundFiles) {
    EXPECT_TRUE(web::SameToken(kToken, kToken));
    EXPECT_FALSE(web::SameToken(kToken + "x", kToken));
    EXPECT_FALSE(web::SameToken(kToken.substr(1), kToken));
    EXPECT_FALSE(web::SameToken("", ""));  // no token configured never matches an empty one
    const std::string cookie = std::string("a=b; ") + web::kTokenCookie + "=" + kToken + "; c=d";
    EXPECT_EQ(web::TokenOf(cookie.c_str(), nullptr), kToken);
    EXPECT_EQ(web::TokenOf(nullptr, ("Bearer " + kToken).c_str()), kToken);
    EXPECT_EQ(web::TokenOf("other=1", "Basic abc"), "");

    const std::string path = ::testing::TempDir() + "web_token.txt";
    struct Case {
        std::string content;
        bool ok;
    } cases[] = {{kToken + "\n", true},
                 {"  " + kToken + "  \r\nsecond line", true},
                 {"short\n", false},
                 {"spaces in the token here\n", false},
                 {"", false}};
    for (const Case& c : cases) {
        std::ofstream(path, std::ios::binary) << c.content;
        std::string token;
        std::string error;
        EXPECT_EQ(web::ReadTokenFile(path, &token, &error), c.ok) << c.content;
        if (c.ok) {
            EXPECT_EQ(token, kToken);
        } else {
            EXPECT_NE(error.find(path), std::string::npos);
        }
    }
    std::remove(path.c_str());
    std::string token;
    std::string error;
    EXPECT_FALSE(web::ReadTokenFile(path, &token, &error));
}

TEST(WebEventStream, SendsTheStateThenOnlyWhatChangedAsOneLineEachAndEndsOnce) {
    board::Board board({"/dev/ttyUSB0", "evil\nevent: forged\ndata: 1"}, "", 0);
    web::EventEncoder encoder("2026-12-08T06:00:00.000Z");
    web::EventStream stream(encoder);
    auto next = [&](uint64_t nowMs) {
        encoder.Take(board.Snapshot(nowMs));
        return stream.Next();
    };
    const std::string first = next(0);
    EXPECT_EQ(first.rfind("retry: ", 0), 0u);
    EXPECT_NE(first.find("event: state\ndata: {"), std::string::npos);
    EXPECT_EQ(first.find("\nevent: forged"), std::string::npos);  // the name's line ends stay inside the JSON
    EXPECT_NE(first.find("2026-12-08T06:00:00.000Z"), std::string::npos);
    EXPECT_EQ(next(0), "");

    board.Step(1, station::Step::WaitingForUnit, 0, "waiting for a unit", 10);
    const std::string step = next(10);
    EXPECT_EQ(step.rfind("event: port\ndata: {\"index\":1,", 0), 0u) << step;
    EXPECT_EQ(step.find("event: port", 1), std::string::npos);  // port 0 did not change
    EXPECT_EQ(step.find("event: station"), std::string::npos);

    // A loading port's time left counts down on its own: another port's step sends that port only.
    board.LoadStart(0, 1, 100000, 115200, 20);
    board.Progress(0, 5000, 100000, 620);
    EXPECT_NE(next(620).find("\"index\":0,"), std::string::npos);
    board.Step(1, station::Step::WaitingForUnit, 0, "waiting for the next unit", 900);
    const std::string other = next(900);
    EXPECT_EQ(other.find("\"index\":0,"), std::string::npos) << other;
    EXPECT_NE(other.find("\"index\":1,"), std::string::npos) << other;

    board.LoadEnd(0, 1, station::LoadEnd{station::LoadResult::Confirmed, 100000, 100000, 5, ""}, 925);
    const std::string end = next(925);
    EXPECT_NE(end.find("event: port"), std::string::npos);
    EXPECT_NE(end.find("event: station\ndata: {"), std::string::npos);
    EXPECT_NE(end.find("\"loaded\":1"), std::string::npos);

    // What waits for the records server is news for the station's line, though no port moved.
    board.Server({"db.line3", 3, "connection refused"}, 950);
    const std::string server = next(950);
    EXPECT_EQ(server.rfind("event: station\ndata: {", 0), 0u) << server;
    EXPECT_NE(server.find("\"waiting\":3"), std::string::npos) << server;

    board.End(1000);
    EXPECT_NE(next(1000).find("event: end\ndata: {\"failed\":0,\"loaded\":1}"), std::string::npos);
    EXPECT_EQ(next(1010), "");
}

// Sixteen readers cost one encoding per change; a reader that fell behind gets every port
// that changed since it was last sent, each once, as it is now.
TEST(WebEventStream, EachChangeIsEncodedOnceForEveryReaderAndALateReaderCatchesUp) {
    board::Board board({"A", "B", "C"}, "", 0);
    web::EventEncoder encoder("2026-12-08T06:00:00.000Z");
    std::vector<web::EventStream> readers(16, web::EventStream(encoder));
    encoder.Take(board.Snapshot(0));
    for (web::EventStream& reader : readers) EXPECT_NE(reader.Next().find("event: state"), std::string::npos);
    const uint64_t before = encoder.Encoded();
    board.Step(0, station::Step::WaitingForUnit, 0, "waiting for a unit", 10);
    encoder.Take(board.Snapshot(10));
    for (size_t i = 1; i < readers.size(); ++i) EXPECT_NE(readers[i].Next().find("\"index\":0,"), std::string::npos);
    EXPECT_EQ(encoder.Encoded(), before + 1);

    board.Step(2, station::Step::WaitingForUnit, 0, "waiting for a unit", 20);
    board.Step(0, station::Step::PortLost, 0, "port lost, trying again", 30);
    encoder.Take(board.Snapshot(30));
    encoder.Take(board.Snapshot(10));  // an older copy changes nothing
    const std::string late = readers[0].Next();
    EXPECT_EQ(late.find("\"index\":0,"), late.rfind("\"index\":0,")) << late;
    EXPECT_NE(late.find("port lost"), std::string::npos);
    EXPECT_NE(late.find("\"index\":2,"), std::string::npos);
    EXPECT_EQ(late.find("\"index\":1,"), std::string::npos);
    EXPECT_EQ(readers[0].Next(), "");
}

class WebServer : public ::testing::Test {
protected:
    void Start(const std::string& token = "", web::RecordsQuery records = {}, web::SummaryQuery summary = {}) {
        web::ServerOptions options;
        std::string error;
        ASSERT_TRUE(web::ParseListenAddress("127.0.0.1:0", &options.address, &error));
        options.token = token;
        options.machineNames = {"station7"};
        options.startedAt = "2026-12-08T06:00:00.000Z";
        options.station = "bench-2";
        options.records = std::move(records);
        options.summary = std::move(summary);
        server_ = web::Server::Start(options, board_, common::SteadyClock(), &error);
        ASSERT_TRUE(server_) << error;
        port_ = server_->Port();
    }

    board::Board board_{kPorts, "shift.db", common::SteadyClock().NowMs()};
    std::unique_ptr<web::Server> server_;
    uint16_t port_ = 0;
};

TEST_F(WebServer, ServesThePageItsFilesAndTheStateWithItsSecurityHeaders) {
    Start();
    EXPECT_EQ(server_->Url(), "http://127.0.0.1:" + std::to_string(port_) + "/");
    const std::string page = Get(port_, "/");
    EXPECT_EQ(Status(page), 200);
    EXPECT_NE(page.find("Content-Security-Policy: default-src 'none'; script-src 'self'"), std::string::npos);
    EXPECT_NE(page.find("X-Content-Type-Options: nosniff"), std::string::npos);
    EXPECT_NE(page.find("Referrer-Policy: no-referrer"), std::string::npos);
    EXPECT_NE(page.find("<script src=\"/board.js\""), std::string::npos);
    EXPECT_NE(Get(port_, "/board.js").find("Content-Type: text/javascript"), std::string::npos);
    const std::string state = Get(port_, "/api/state");
    EXPECT_EQ(Status(state), 200);
    EXPECT_NE(state.find("\"name\":\"/dev/ttyUSB1\""), std::string::npos);
    EXPECT_NE(state.find("\"started_at\":\"2026-12-08T06:00:00.000Z\""), std::string::npos);
    const std::string head = Get(port_, "/api/state", "", "HEAD");
    EXPECT_EQ(Status(head), 200);
    EXPECT_EQ(head.substr(head.find("\r\n\r\n") + 4), "");
    const std::string metrics = Get(port_, "/metrics");
    EXPECT_EQ(Status(metrics), 200);
    EXPECT_NE(metrics.find("Content-Type: text/plain; version=0.0.4"), std::string::npos);
    EXPECT_NE(metrics.find("varnex_units{station=\"bench-2\",step=\"opening\"} 2\n"), std::string::npos);
    EXPECT_EQ(Status(Get(port_, "/nothing-here")), 404);
    EXPECT_EQ(Status(Get(port_, "/line.js")), 404);      // the line page's, not a station's
    EXPECT_EQ(Status(Get(port_, "/api/records")), 404);  // the station keeps no records
}

TEST_F(WebServer, RefusesWritesOtherHostsAndMalformedOversizedOrHeaderStuffedRequests) {
    Start();
    const std::string post = Get(port_, "/api/state", "Content-Length: 0\r\n", "POST");
    EXPECT_EQ(Status(post), 405);
    EXPECT_NE(post.find("Allow: GET, HEAD"), std::string::npos);
    EXPECT_EQ(Status(Get(port_, "/", "", "DELETE")), 405);
    {
        Client client(port_);
        client.Send("GET / HTTP/1.1\r\nHost: attacker.example:" + std::to_string(port_) + "\r\n\r\n");
        EXPECT_EQ(Status(client.Read()), 403);
    }
    std::string stuffed;
    for (int i = 0; i < 50; ++i) stuffed += "X-Filler-" + std::to_string(i) + ": 1\r\n";
    EXPECT_EQ(Status(Get(port_, "/", stuffed)), 431);
    const int oversized = Status(Get(port_, "/", "X-Big: " + std::string(20000, 'a') + "\r\n"));
    EXPECT_TRUE(oversized == 400 || oversized == 413 || oversized == 431 || oversized == 0) << oversized;
    Client garbage(port_);
    garbage.Send("\x01\x02 nonsense\r\n\r\n");
    const int malformed = Status(garbage.Read());
    EXPECT_TRUE(malformed == 400 || malformed == 0) << malformed;
    EXPECT_EQ(Status(Get(port_, "/api/state")), 200);  // and it still serves
}

TEST_F(WebServer, AThirtyThirdEventStreamIsRefusedAndASlotFreesWhenOneCloses) {
    Start();
    std::vector<std::unique_ptr<Client>> streams;
    for (size_t i = 0; i < web::kMaxEventStreams; ++i) {
        streams.push_back(std::make_unique<Client>(port_));
        streams.back()->Send("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) + "\r\n\r\n");
        ASSERT_NE(streams.back()->Read("event: state").find("event: state"), std::string::npos) << i;
    }
    const std::string refused = Get(port_, "/api/events");
    EXPECT_EQ(Status(refused), 503);
    EXPECT_NE(refused.find("Retry-After:"), std::string::npos);
    // Sockets that never send a request (a browser's spare connections, a scanner) neither
    // take the page's threads nor stay open long.
    std::vector<std::unique_ptr<Client>> idle;
    for (size_t i = 0; i < kIdleSockets; ++i) idle.push_back(std::make_unique<Client>(port_));
    EXPECT_EQ(Status(Get(port_, "/api/state")), 200);  // the rest is still served
    EXPECT_TRUE(idle.front()->ClosedByServer());

    // A reader gone is noticed at the next writes to it (a change of the board, or the heartbeat).
    streams.pop_back();
    bool admitted = false;
    for (int attempt = 0; attempt < 50 && !admitted; ++attempt) {
        board_.Step(0, station::Step::WaitingForUnit, 0, std::to_string(attempt), common::SteadyClock().NowMs());
        Client again(port_);
        again.Send("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) + "\r\n\r\n");
        admitted = again.Read("\r\n\r\n").rfind("HTTP/1.1 200", 0) == 0;
        if (!admitted) common::SteadyClock().SleepMs(100);
    }
    EXPECT_TRUE(admitted);
}

TEST_F(WebServer, WithATokenEveryRequestCarriesIt) {
    Start(kToken);
    EXPECT_EQ(Status(Get(port_, "/")), 401);
    EXPECT_EQ(Status(Get(port_, "/api/events")), 401);
    EXPECT_EQ(Status(Get(port_, "/metrics")), 401);
    EXPECT_EQ(Status(Get(port_, "/?token=wrong-token-of-some-length")), 401);
    const std::string set = Get(port_, "/?token=" + kToken);
    EXPECT_EQ(Status(set), 303);
    EXPECT_NE(set.find("Set-Cookie: " + std::string(web::kTokenCookie) + "=" + kToken + "; Path=/; Max-Age="),
              std::string::npos);
    EXPECT_NE(set.find("Location: /\r\n"), std::string::npos);
    EXPECT_NE(set.find("; Max-Age=15811200; HttpOnly; SameSite=Lax\r\n"), std::string::npos) << set;
    // Each use of the cookie renews it; a bearer token sets none.
    const std::string used =
        Get(port_, "/api/state", "Cookie: " + std::string(web::kTokenCookie) + "=" + kToken + "\r\n");
    EXPECT_EQ(Status(used), 200);
    EXPECT_NE(used.find("Set-Cookie: " + web::TokenCookie(kToken)), std::string::npos) << used;
    const std::string bearer = Get(port_, "/api/state", "Authorization: Bearer " + kToken + "\r\n");
    EXPECT_EQ(Status(bearer), 200);
    EXPECT_EQ(bearer.find("Set-Cookie"), std::string::npos);
    EXPECT_EQ(Status(Get(port_, "/metrics", "Authorization: Bearer " + kToken + "\r\n")), 200);
}

TEST_F(WebServer, AStreamFollowsTheBoardAndEndsWithTheStation) {
    Start();
    Client stream(port_);
    stream.Send("GET /api/events HTTP/1.1\r\nHost: localhost:" + std::to_string(port_) + "\r\n\r\n");
    const std::string head = stream.Read("event: state");
    EXPECT_NE(head.find("Content-Type: text/event-stream"), std::string::npos);
    board_.Step(1, station::Step::PortLost, 0, "port lost", common::SteadyClock().NowMs());
    EXPECT_NE(stream.Read("\"lost\":true").find("event: port\ndata: {\"index\":1,"), std::string::npos);
    board_.End(common::SteadyClock().NowMs());
    const std::string all = stream.Read();  // to the server's close
    EXPECT_NE(all.find("event: end\n"), std::string::npos);
    // Closed by the station's end itself, while the server still runs: nothing holds its exit.
    EXPECT_TRUE(stream.Closed());
}

TEST_F(WebServer, ServingTheLineAnswersTheLinePageItsJsonAndMetricsAndNoBoard) {
    web::ServerOptions options;
    std::string error;
    ASSERT_TRUE(web::ParseListenAddress("127.0.0.1:0", &options.address, &error));
    options.token = kToken;
    options.line.json = [] { return std::string("{\"stations\":[]}"); };
    options.line.metrics = [] { return std::string("varnex_station_up{station=\"a\"} 1\n"); };
    server_ = web::Server::Start(options, board_, common::SteadyClock(), &error);
    ASSERT_TRUE(server_) << error;
    const std::string bearer = "Authorization: Bearer " + kToken + "\r\n";
    const uint16_t port = server_->Port();
    EXPECT_EQ(Status(Get(port, "/api/line")), 401);
    const std::string page = Get(port, "/", bearer);
    EXPECT_NE(page.find("<script src=\"/line.js\""), std::string::npos);
    EXPECT_NE(page.find("Content-Security-Policy: default-src 'none'"), std::string::npos);
    EXPECT_EQ(Status(Get(port, "/line.js", bearer)), 200);
    EXPECT_EQ(Status(Get(port, "/board.css", bearer)), 200);  // the style both pages share
    const std::string line = Get(port, "/api/line", bearer);
    EXPECT_NE(line.find("\r\n\r\n{\"stations\":[]}"), std::string::npos);
    EXPECT_NE(Get(port, "/metrics", bearer).find("varnex_station_up{station=\"a\"} 1"), std::string::npos);
    for (const char* board : {"/api/state", "/api/events", "/board.js", "/line.html"})
        EXPECT_EQ(Status(Get(port, board, bearer)), 404) << board;
}

TEST_F(WebServer, PagesTheRecordsNewestFirstAndRefusesBadParameters) {
    web::RecordsRequest seen;
    Start("", [&seen](const web::RecordsRequest& request, nlohmann::json* rows, std::string* error) {
        seen = request;
        if (request.since == "bad") {
            *error = "since: give a date";
            return web::RecordsAnswer::BadRequest;
        }
        for (int64_t id = request.before == 0 ? 5 : request.before - 1; id >= 1 && rows->size() <= request.limit; --id)
            rows->push_back({{"id", id}});
        return web::RecordsAnswer::Ok;
    });
    const std::string first = Get(port_, "/api/records?limit=2&port=%2Fdev%2FttyUSB0&result=failed");
    EXPECT_EQ(Status(first), 200);
    EXPECT_NE(first.find("{\"next_before\":4,\"records\":[{\"id\":5},{\"id\":4}]}"), std::string::npos) << first;
    EXPECT_EQ(seen.port, "/dev/ttyUSB0");
    EXPECT_EQ(seen.result, "failed");
    const std::string last = Get(port_, "/api/records?limit=3&before=4");
    EXPECT_NE(last.find("{\"next_before\":null,\"records\":[{\"id\":3},{\"id\":2},{\"id\":1}]}"), std::string::npos);
    EXPECT_EQ(Status(Get(port_, "/api/records?limit=0")), 400);
    EXPECT_EQ(Status(Get(port_, "/api/records?limit=1001")), 400);
    EXPECT_EQ(Status(Get(port_, "/api/records?before=-1")), 400);
    EXPECT_EQ(Status(Get(port_, "/api/records?since=bad")), 400);
    EXPECT_EQ(Status(Get(port_, "/api/records?port=" + std::string(600, 'p'))), 400);  // never cut to a wider filter
}

// The shift's figures as the station works them out: its answer as given, a file that cannot
// be read as 503, none at a station without records.
TEST_F(WebServer, AnswersTheShiftsFiguresFromTheStation) {
    std::atomic<bool> readable{true};
    Start("", {}, [&readable](nlohmann::json* figures, std::string* error) {
        if (!readable) {
            *error = "shift.db: disk I/O error";
            return web::RecordsAnswer::Unavailable;
        }
        *figures = {{"loaded_per_hour", {3, 5}}};
        return web::RecordsAnswer::Ok;
    });
    const std::string answer = Get(port_, "/api/summary");
    EXPECT_EQ(Status(answer), 200);
    EXPECT_NE(answer.find("{\"loaded_per_hour\":[3,5]}"), std::string::npos) << answer;
    readable.store(false);
    const std::string failed = Get(port_, "/api/summary");
    EXPECT_EQ(Status(failed), 503);
    EXPECT_NE(failed.find("disk I/O error"), std::string::npos);
    server_.reset();
    Start();
    EXPECT_EQ(Status(Get(port_, "/api/summary")), 404);
}

}  // namespace
