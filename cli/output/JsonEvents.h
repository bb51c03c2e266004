// The --json form: one JSON object per line per event, for production-line records.
// Progress is thinned to at most four a second per unit; every other event is written.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/output/UnitEvents.h"

namespace cli {

inline constexpr uint64_t kJsonProgressIntervalMs = 250;

class JsonEvents final : public Presenter {
public:
    JsonEvents(std::ostream& out, const std::vector<std::string>& ports, uint64_t startMs);
    void OnEvent(const UnitEvent& event, uint64_t nowMs) override;

private:
    std::ostream& out_;
    std::vector<std::string> ports_;
    std::vector<uint64_t> lastProgressMs_;
    std::vector<bool> progressSent_;
    uint64_t startMs_;
};

}  // namespace cli
