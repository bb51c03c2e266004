// varnex's rows in the records file: what every row of one run shares (station, operation,
// image, speed, version) filled in once, the times stamped from the system's clock, and each
// row begun and completed through the store. Used by station, download and erase.
#pragma once

#include <string>

#include "records/RecordStore.h"
#include "station/PortCycle.h"

namespace cli {

class RecordKeeping final : public station::RecordKeeper {
public:
    // common: the fields every row of this run shares.
    RecordKeeping(records::RecordStore& store, const records::Row& common) : store_(store), common_(common) {}
    bool Begin(const station::LoadStart& start, uint64_t* id, std::string* error) override;
    bool Complete(uint64_t id, const station::LoadEnd& end, std::string* error) override;
    // For download and erase, whose good end is "done" rather than a confirmation.
    bool CompleteAs(uint64_t id, const char* result, const station::LoadEnd& end, std::string* error);

private:
    records::RecordStore& store_;
    const records::Row common_;
};

}  // namespace cli
