// Rows begun and completed for varnex's runs (see RecordKeeping.h).
#include "cli/RecordKeeping.h"

namespace cli {

bool RecordKeeping::Begin(const station::LoadStart& start, uint64_t* id, std::string* error) {
    records::Row row = common_;
    auto named = names_.find(start.port);
    row.port = named == names_.end() ? start.port : named->second;
    row.device = start.port;
    row.unit = start.unit;
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

}  // namespace cli
