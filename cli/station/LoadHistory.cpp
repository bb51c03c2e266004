// A unit's earlier loads from the records (see LoadHistory.h).
#include "cli/station/LoadHistory.h"

#include <vector>

#include "records/PgConnection.h"

namespace cli {

namespace {

// The later of two rows, by their start; an empty row (none found) loses.
void KeepLatest(const records::Row& row, records::Row* latest, bool* found) {
    if (!*found || row.startedAt > latest->startedAt) *latest = row;
    *found = true;
}

}  // namespace

RecordsHistory::RecordsHistory(records::RecordStore* store, const std::string& url, common::Clock& clock)
    : store_(store), clock_(clock) {
    if (!url.empty()) {
        server_ = std::make_unique<records::ServerRecords>(url);
        serverName_ = records::ServerName(url);
    }
}

bool RecordsHistory::FindConfirmed(const std::string& serial, station::PreviousLoad* previous, bool* found,
                                   std::string* error) {
    records::Filter filter;
    filter.serial = serial;
    filter.result = records::kConfirmed;
    records::Row latest;
    *found = false;
    std::string fileError;
    std::vector<records::Row> rows;
    const bool fileRead = store_ == nullptr || store_->List(filter, &rows, &fileError);
    if (!rows.empty()) KeepLatest(rows.back(), &latest, found);
    std::string serverError;
    const bool serverRead = AskServer(serial, &latest, found, &serverError);
    if (!*found && (!fileRead || !serverRead)) {
        *error = !fileRead ? fileError : serverError;
        return false;
    }
    if (*found) *previous = {LoadedAtText(latest.startedAt), latest.port, latest.station};
    return true;
}

bool RecordsHistory::AskServer(const std::string& serial, records::Row* latest, bool* found, std::string* error) {
    if (!server_) return true;
    std::lock_guard<std::mutex> hold(mutex_);
    if (serverFailed_ && clock_.NowMs() - serverFailedMs_ < kServerRetryMs) {
        *error = "the records server " + serverName_ + " is not answering";
        return false;
    }
    records::Filter filter;
    filter.serial = serial;
    filter.result = records::kConfirmed;
    std::vector<records::Row> rows;
    records::ServerError failure;
    if (!server_->List(filter, &rows, &failure)) {
        server_->Reset();
        serverFailed_ = true;
        serverFailedMs_ = clock_.NowMs();
        *error = "the records server " + serverName_ + ": " + failure.text;
        return false;
    }
    serverFailed_ = false;
    if (!rows.empty()) KeepLatest(rows.back(), latest, found);
    return true;
}

std::string LoadedAtText(const std::string& startedAt) {
    constexpr size_t kDateLength = 10, kTimeAt = 11, kMinutesLength = 5;
    if (startedAt.size() < kTimeAt + kMinutesLength) return startedAt;
    return startedAt.substr(0, kDateLength) + " " + startedAt.substr(kTimeAt, kMinutesLength) + " UTC";
}

}  // namespace cli
