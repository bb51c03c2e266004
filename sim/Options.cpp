// Command-line parsing and the --help text.
#include "sim/Options.h"

#include <cerrno>
#include <cstdlib>

namespace sim {
namespace {

bool toUnsigned(const std::string& text, unsigned long long max, unsigned long long& out) {
    if (text.empty() || text[0] == '-') return false;
    errno = 0;
    char* end = nullptr;
    out = std::strtoull(text.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0' && out <= max;
}

}  // namespace

bool parseFaultSpec(const std::string& spec, Json& out, std::string& error) {
    out = Json::object();
    size_t start = 0;
    bool first = true;
    while (start <= spec.size()) {
        size_t comma = spec.find(',', start);
        std::string part = spec.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (first) {
            out.set("kind", part);
            first = false;
        } else if (!part.empty()) {
            size_t eq = part.find('=');
            if (eq == std::string::npos) {
                error = "fault setting \"" + part + "\" needs key=value";
                return false;
            }
            std::string key = part.substr(0, eq), value = part.substr(eq + 1);
            char* end = nullptr;
            double number = std::strtod(value.c_str(), &end);
            if (value == "true" || value == "false") out.set(key, value == "true");
            else if (!value.empty() && end && *end == '\0') out.set(key, number);
            else out.set(key, value);
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return true;
}

bool parseOptions(int argc, const char* const* argv, SimOptions& out, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        size_t eq = arg.find('=');
        bool inlineValue = arg.rfind("--", 0) == 0 && eq != std::string::npos;
        if (inlineValue) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        auto needValue = [&]() -> bool {
            if (inlineValue) return true;
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        unsigned long long n = 0;
        auto needNumber = [&](unsigned long long max) -> bool {
            if (!needValue()) return false;
            if (!toUnsigned(value, max, n)) {
                error = arg + " needs a whole number up to " + std::to_string(max) + ", not \"" + value + "\"";
                return false;
            }
            return true;
        };
        if (arg == "-h" || arg == "--help") out.help = true;
        else if (arg == "--version") out.version = true;
        else if (arg == "--link") { if (!needValue()) return false; out.link = value; }
        else if (arg == "--modem") { if (!needValue()) return false; out.modem = value; }
        else if (arg == "--control") { if (!needValue()) return false; out.control = value; }
        else if (arg == "--log") { if (!needValue()) return false; out.logFile = value; }
        else if (arg == "--events") { if (!needValue()) return false; out.eventsFile = value; }
        else if (arg == "--scenario") { if (!needValue()) return false; out.scenarioFile = value; }
        else if (arg == "--store") { if (!needValue()) return false; out.storeDir = value; }
        else if (arg == "--mode") {
            if (!needValue()) return false;
            if (!parseMode(value, out.unit.mode)) { error = "--mode must be off, bootloader or running"; return false; }
        } else if (arg == "--baud") {
            if (!needNumber(1000000)) return false;
            if (n != kBootloaderFastBaud && n != kBootloaderSlowBaud) {
                error = "--baud (the bootloader's speed) must be 115200 or 57600";
                return false;
            }
            out.unit.bootBaud = uint32_t(n);
        } else if (arg == "--quiet-gap-ms") {
            if (!needNumber(3600000)) return false;
            out.unit.quietGapMs = uint32_t(n);
        } else if (arg == "--erase-ms") {
            if (!needNumber(3600000)) return false;
            out.unit.eraseMs = uint32_t(n);
        } else if (arg == "--erase-fault") {
            if (!needValue()) return false;
            if (!parseEraseFault(value, out.unit.eraseFault)) {
                error = "--erase-fault must be none, wrong_pair_first, stray_byte or never";
                return false;
            }
        } else if (arg == "--file-chunk") {
            if (!needNumber(512)) return false;
            if (n == 0) { error = "--file-chunk must be from 1 to 512"; return false; }
            out.unit.fileGetChunk = size_t(n);
        } else if (arg == "--pace") out.unit.pacing = true;
        else if (arg == "--no-garble-output") out.unit.garbleOutput = false;
        else if (arg == "--seed") {
            if (!needNumber(~0ull)) return false;
            out.unit.seed = n;
        } else if (arg == "--nlec-table") { if (!needValue()) return false; out.nlecTable = value; }
        else if (arg == "--settings-file") { if (!needValue()) return false; out.settingsFile = value; }
        else if (arg == "--binary-file") { if (!needValue()) return false; out.binaryFile = value; }
        else if (arg == "--program-file") {
            if (!needValue()) return false;
            size_t sep = value.find('=');
            if (sep == std::string::npos) out.programFiles.emplace_back("*", value);
            else out.programFiles.emplace_back(value.substr(0, sep), value.substr(sep + 1));
        } else if (arg == "--no-builtin-content") out.builtinContent = false;
        else if (arg == "--fault") {
            if (!needValue()) return false;
            Json spec;
            if (!parseFaultSpec(value, spec, error)) return false;
            out.faults.push_back(spec);
        } else {
            error = "unknown option " + arg + " (see --help)";
            return false;
        }
    }
    return true;
}

const char* usageText() {
    return R"(varnex-sim: a simulated Varnex 410 readout unit on a pseudo-terminal.

Usage: varnex-sim [options]

Where it connects:
  --link PATH          symlink to the unit's serial port (the PC's COM1); default /tmp/varnex-sim/com1
  --modem PATH         file the unit's modem lines are written to (decimal TIOCM bits);
                       the PC's DTR/RTS are read from PATH.pc
  --control PATH       Unix socket for control requests (one JSON object per line)
  --log FILE           human-readable log (default: stderr)
  --events FILE        machine-readable event log, one JSON object per line
  --store DIR          folder for tables and files the PC sends (default: a new folder in /tmp)

Scenario:
  --mode MODE          off | bootloader | running (default running)
  --baud N             bootloader speed, 115200 (default) or 57600
  --quiet-gap-ms N     quiet time after an image's last byte before CTS drops (default 1500)
  --erase-ms N         how long an erase takes (default 50000)
  --erase-fault F      none | wrong_pair_first | stray_byte | never
  --nlec-table FILE    the table the PC fetches (default: a small built-in table)
  --settings-file FILE the settings file the PC receives (default: built-in bytes)
  --program-file [NAME=]FILE  a program file the PC receives by name (no NAME: any name)
  --binary-file FILE   the file served for kind 9
  --no-builtin-content serve nothing that was not named
  --file-chunk N       bytes per data packet of a file the PC receives (1..512, default 512)
  --fault SPEC         arm a fault, e.g. corrupt_byte,at=3 or drop_reply,rate=0.1,seed=7
  --seed N             seed for rate faults and fault details (default 1)
  --scenario FILE      control requests (one JSON object a line) run at start; one with
                       "after_ms": N runs N ms after the start
  --pace               hold both directions to the real line rate (11 bits per byte)
  --no-garble-output   deliver the unit's bytes even when the PC's port is at another speed

On start it prints one JSON line {"ready": true, ...} on stdout. SIGTERM or SIGINT ends it and
removes the link and the socket. Control requests on the socket:
)";
}

}  // namespace sim
