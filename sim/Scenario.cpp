// Reading scenario files and handing out their requests as their time comes.
#include "sim/Scenario.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "sim/Content.h"

namespace sim {

constexpr double kMaxAfterMs = 7 * 24 * 3600 * 1000.0;  // a week: anything later is a mistake

bool Scenario::parse(const std::string& text, std::string& error) {
    steps_.clear();
    size_t lineNumber = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        Json request;
        std::string why;
        if (!parseJson(line, request, why) || !request.is_object() || !request.contains("cmd")) {
            error = "line " + std::to_string(lineNumber) + ": not a request (" + (why.empty() ? "needs \"cmd\"" : why) +
                    ")";
            return false;
        }
        uint64_t at = 0;
        if (const Json* after = member(request, "after_ms")) {
            if (!after->is_number() || after->get<double>() < 0 || after->get<double>() > kMaxAfterMs) {
                error = "line " + std::to_string(lineNumber) + ": \"after_ms\" must be a number of milliseconds";
                return false;
            }
            at = uint64_t(std::llround(after->get<double>()));
        }
        steps_.push_back({at, lineNumber, request, false});
    }
    std::stable_sort(steps_.begin(), steps_.end(), [](const Step& a, const Step& b) { return a.atMs < b.atMs; });
    return true;
}

bool Scenario::load(const std::string& path, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!readWholeFile(path, bytes, error)) return false;
    if (!parse(std::string(bytes.begin(), bytes.end()), error)) {
        error = path + ", " + error;
        return false;
    }
    return true;
}

std::vector<Json> Scenario::due(uint64_t nowMs) {
    std::vector<Json> out;
    for (auto& step : steps_) {
        if (step.done || step.atMs > nowMs) continue;
        step.done = true;
        out.push_back(step.request);
    }
    return out;
}

uint64_t Scenario::nextDueMs() const {
    for (const auto& step : steps_)
        if (!step.done) return step.atMs;
    return UINT64_MAX;
}

}  // namespace sim
