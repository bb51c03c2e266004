// Where a station looks up whether a unit was loaded before: its records file, and the line's
// records server when the station forwards to one (so a unit loaded at another station is
// found too). A server that cannot be reached is asked again only after kServerRetryMs, so
// an unreachable server delays no more than one unit in that time.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "common/Clock.h"
#include "records/RecordStore.h"
#include "records/ServerRecords.h"
#include "station/PortCycle.h"

namespace cli {

inline constexpr uint64_t kServerRetryMs = 30000;

class RecordsHistory final : public station::LoadHistory {
public:
    // store may be null (no file); url empty for no server.
    RecordsHistory(records::RecordStore* store, const std::string& url, common::Clock& clock);
    bool FindConfirmed(const std::string& serial, station::PreviousLoad* previous, bool* found,
                       std::string* error) override;

private:
    bool AskServer(const std::string& serial, records::Row* latest, bool* found, std::string* error);
    records::RecordStore* store_;
    common::Clock& clock_;
    std::mutex mutex_;  // the server's one connection, shared by the ports
    std::unique_ptr<records::ServerRecords> server_;
    std::string serverName_;
    bool serverFailed_ = false;
    uint64_t serverFailedMs_ = 0;
};

// A row's start as the board says it: "2026-12-08 06:12 UTC".
std::string LoadedAtText(const std::string& startedAt);

}  // namespace cli
