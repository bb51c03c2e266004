// A scenario file: control requests, one JSON object per line, run when the unit starts; a
// request with "after_ms" runs that long after the start instead, so a field problem (CTS
// falling mid-download, an error halfway through a transfer) can be replayed on cue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/Json.h"

namespace sim {

class Scenario {
public:
    // Reads the file's text. Blank lines and lines starting with # are skipped. Returns false
    // with *error naming the line for anything that is not a request.
    bool parse(const std::string& text, std::string& error);
    bool load(const std::string& path, std::string& error);

    // The requests whose time has come (in file order among equal times), each given once.
    std::vector<Json> due(uint64_t nowMs);
    // When the next request is due (UINT64_MAX for none left).
    uint64_t nextDueMs() const;
    size_t size() const { return steps_.size(); }

private:
    struct Step {
        uint64_t atMs;
        size_t line;
        Json request;
        bool done;
    };
    std::vector<Step> steps_;
};

}  // namespace sim
