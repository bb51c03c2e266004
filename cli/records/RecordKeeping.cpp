// Rows begun and completed for varnex's runs (see RecordKeeping.h).
#include "cli/records/RecordKeeping.h"

#include "cli/Options.h"
#include "cli/output/FailureTexts.h"
#include "cli/terminal/HostName.h"

namespace cli {

bool RecordKeeping::Begin(const station::LoadStart& start, uint64_t* id, std::string* error) {
    records::Row row = common_;
    auto named = names_.find(start.port);
    row.port = named == names_.end() ? start.port : named->second;
    row.device = start.port;
    row.unit = start.unit;
    row.serial = start.serial;
    row.result = records::kInterrupted;
    if (!store_.Begin(&row, error)) return false;
    *id = static_cast<uint64_t>(row.id);
    return true;
}

bool RecordKeeping::Complete(uint64_t id, const station::LoadEnd& end, std::string* error) {
    return CompleteAs(id, station::LoadResultName(end.result), end, error);
}

bool RecordKeeping::CompleteAs(uint64_t id, const char* result, const station::LoadEnd& end, std::string* error) {
    records::Row row;
    row.id = static_cast<int64_t>(id);
    row.endedAt = records::NowIsoUtc();
    row.bytesSent = end.bytesSent;
    row.result = result;
    row.reason = end.reason;
    row.durationMs = end.durationMs;
    return store_.Complete(row, error);
}

bool OpenRecords(const std::string& path, std::ostream& err, std::shared_ptr<records::RecordStore>* store) {
    if (path.empty()) return true;
    std::string error;
    *store = records::RecordStore::Open(path, records::Access::Write, &error);
    if (*store) return true;
    err << "varnex: " << FailureText(Failure::RecordsNotUsable, Words(error)) << std::endl;
    return false;
}

records::Row RunRow(const std::string& station) {
    records::Row row;
    row.station = station.empty() ? HostName() : station;
    row.version = kVersion;
    return row;
}

}  // namespace cli
