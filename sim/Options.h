// The simulator's command line: where its port, modem file, control socket and logs go, and
// the scenario it starts in (the same settings the control channel changes later).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sim/Json.h"
#include "sim/Unit.h"

namespace sim {

struct SimOptions {
    std::string link = "/tmp/varnex-sim/com1";
    std::string modem;    // empty: no modem file
    std::string control;  // empty: no control socket
    std::string logFile;  // empty: stderr
    std::string eventsFile;
    std::string storeDir;  // empty: a fresh folder under /tmp
    bool builtinContent = true;
    std::string nlecTable;
    std::vector<std::pair<std::string, std::string>> programFiles;  // name ("*" any) -> path
    std::string settingsFile;
    std::string binaryFile;
    std::vector<Json> faults;  // armed at start, as the "fault" request
    std::string scenarioFile;  // control requests to run at start or on cue
    UnitConfig unit;
    bool help = false;
    bool version = false;
};

// Returns false with *error for an unknown option or a bad value.
bool parseOptions(int argc, const char* const* argv, SimOptions& out, std::string& error);
// "kind,key=value,..." as for --fault, into the "fault" request's fields.
bool parseFaultRule(const std::string& text, Json& out, std::string& error);
std::string usageText();

}  // namespace sim
