// Fuzzes the simulated unit's control requests: each input line goes to one unit as a
// request. Every request, however malformed or deep, gets exactly one JSON object back on
// one line, with "ok" saying whether it was done.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <stdlib.h>

#include "sim/Content.h"
#include "sim/Control.h"
#include "sim/EventLog.h"
#include "sim/Unit.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

constexpr uint64_t kStepMs = 10;  // time between two requests, so timed work moves on

// One store folder for the whole run, removed at its end: requests may make the unit keep
// files there.
struct StoreFolder {
    std::string path;
    StoreFolder() {
        char pattern[] = "/tmp/sim-control-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        Check(made != nullptr);
        path = made;
    }
    ~StoreFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

const std::string& StoreDir() {
    static const StoreFolder folder;
    return folder.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::Content content(StoreDir());
    content.loadBuiltins();
    sim::EventLog log;
    sim::UnitConfig config;
    sim::Unit unit(config, content, log);
    const std::string text(reinterpret_cast<const char*>(data), size);
    uint64_t now = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        sim::ControlOutcome outcome;
        const std::string reply = sim::handleControlLine(unit, text.substr(start, end - start), now, outcome);
        Check(reply.find('\n') == std::string::npos);
        sim::Json parsed;
        std::string error;
        Check(sim::parseJson(reply, parsed, error));
        const sim::Json* ok = sim::member(parsed, "ok");
        Check(ok != nullptr && ok->is_boolean());
        if (outcome.quit) break;
        unit.tick(now += kStepMs);
        start = end + 1;
    }
    return 0;
}
