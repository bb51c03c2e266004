// varnex's rows in the records file: what every row of one run shares (station, operation,
// image, speed, version) filled in once, the times stamped from the system's clock, and each
// row begun and completed through the store. Used by station, download and erase.
#pragma once

#include <map>
#include <memory>
#include <ostream>
#include <string>

#include "records/RecordStore.h"
#include "station/PortCycle.h"

namespace cli {

class RecordKeeping final : public station::RecordKeeper {
public:
    // common: the fields every row of this run shares; names: what the rows call each port
    // (its device as the cycle knows it, to its name), a port not in it is called by its device.
    // Every row keeps the device too.
    RecordKeeping(records::RecordStore& store, const records::Row& common,
                  std::map<std::string, std::string> names = {})
        : store_(store), common_(common), names_(std::move(names)) {}
    bool Begin(const station::LoadStart& start, uint64_t* id, std::string* error) override;
    bool Complete(uint64_t id, const station::LoadEnd& end, std::string* error) override;
    // For download and erase, whose good end is "done" rather than a confirmation.
    bool CompleteAs(uint64_t id, const char* result, const station::LoadEnd& end, std::string* error);

private:
    records::RecordStore& store_;
    const records::Row common_;
    const std::map<std::string, std::string> names_;
};

// Opens the records file a command was given, before any port is touched; false after the
// message when it cannot be used (a usage error). An empty path keeps no records.
bool OpenRecords(const std::string& path, std::ostream& err, std::shared_ptr<records::RecordStore>* store);

// What every row of one run shares: the station (the host's name unless given) and this
// program's version.
records::Row RunRow(const std::string& station);

}  // namespace cli
