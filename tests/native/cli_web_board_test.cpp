// The station's web board over its records file: pages of the records, newest first, each row
// on one page only, and the way to the next page given while older rows remain.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "HttpClient.h"
#include "RecordsFixtures.h"
#include "board/Board.h"
#include "cli/station/WebBoard.h"
#include "common/Clock.h"
#include "records/RecordStore.h"

namespace {

constexpr int kRows = 5;
constexpr size_t kPageRows = 2;

// The ids of one page and its way on (0 where there is none).
struct Page {
    std::vector<int64_t> ids;
    int64_t nextBefore = 0;
};

Page Fetch(uint16_t port, const std::string& query) {
    const std::string answer = http_client::Get(port, "/api/records?" + query);
    EXPECT_EQ(http_client::Status(answer), 200) << answer;
    const nlohmann::json page = nlohmann::json::parse(http_client::Body(answer), nullptr, false);
    Page got;
    if (!page.is_object()) return got;
    for (const nlohmann::json& row : page["records"]) got.ids.push_back(row["id"].get<int64_t>());
    if (!page["next_before"].is_null()) got.nextBefore = page["next_before"].get<int64_t>();
    return got;
}

TEST(CliWebBoard, RecordsPagesFollowOneAnotherWithEveryRowOnce) {
    fixture::Folder folder;
    std::string error;
    auto store = records::RecordStore::Open(folder.File(), records::Access::Write, &error);
    ASSERT_TRUE(store) << error;
    for (int i = 0; i < kRows; ++i) {
        records::Row row = fixture::Sample("/dev/ttyUSB0", static_cast<uint32_t>(i + 1));
        ASSERT_TRUE(store->Begin(&row, &error)) << error;
    }
    cli::StationOptions options;
    options.http = "127.0.0.1:0";
    options.records = folder.File();
    options.station = "bench-3";  // the board pages its own station's rows
    board::Board board({"/dev/ttyUSB0"}, options.records, 0);
    std::ostringstream err;
    bool failed = false;
    std::unique_ptr<web::Server> server =
        cli::StartWebBoard(options, options.station, board, common::SteadyClock(), err, &failed);
    ASSERT_TRUE(server) << err.str();
    const std::string limit = "limit=" + std::to_string(kPageRows);

    const Page first = Fetch(server->Port(), limit);
    EXPECT_EQ(first.ids, (std::vector<int64_t>{5, 4}));
    ASSERT_EQ(first.nextBefore, 4);
    const Page second = Fetch(server->Port(), limit + "&before=" + std::to_string(first.nextBefore));
    EXPECT_EQ(second.ids, (std::vector<int64_t>{3, 2}));
    ASSERT_EQ(second.nextBefore, 2);
    const Page last = Fetch(server->Port(), limit + "&before=" + std::to_string(second.nextBefore));
    EXPECT_EQ(last.ids, (std::vector<int64_t>{1}));
    EXPECT_EQ(last.nextBefore, 0);
}

}  // namespace
