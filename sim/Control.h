// The control channel's requests: one JSON object with a "cmd" field in, one JSON object
// ({"ok": true, ...} or {"ok": false, "error": "..."}) out. The same requests serve the
// socket and the command line's scenario options.
#pragma once

#include <cstdint>

#include "sim/Json.h"
#include "sim/Unit.h"

namespace sim {

struct ControlOutcome {
    bool quit = false;  // the client asked the unit to stop
};

Json handleControl(Unit& unit, const Json& request, uint64_t nowMs, ControlOutcome& outcome);
// Parses one request line and handles it; a line that is not a JSON object gets an error reply.
std::string handleControlLine(Unit& unit, const std::string& line, uint64_t nowMs, ControlOutcome& outcome);

// One line per request, for --help and the "help" request.
const char* controlHelp();

}  // namespace sim
