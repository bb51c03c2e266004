// The simulator's command line (CLI11) and its --help text.
#include "sim/Options.h"

#include <cmath>
#include <cstdlib>

#include <CLI/CLI.hpp>

#include "sim/WireFrame.h"

namespace sim {
namespace {

constexpr uint32_t kMaxOptionMs = 3600000;  // one hour: longer waits are typing mistakes
constexpr uint32_t kMaxLineUnits = 100000;

const char* const kDescription = "varnex-sim: a simulated Varnex 410 readout unit on a pseudo-terminal.";
const char* const kFooter =
    R"(On start it prints one JSON line {"ready": true, ...} on stdout. SIGTERM or SIGINT ends it and
removes the link and the socket. Control requests on the socket:
)";

// A check that turns a name into its setting, or says which names are allowed.
template <typename T>
CLI::Validator named(bool (*parse)(const std::string&, T&), const char* allowed) {
    return CLI::Validator(
        [parse, allowed](std::string& value) {
            T ignored{};
            return parse(value, ignored) ? std::string() : std::string("must be ") + allowed;
        },
        "");
}

// The options as one CLI11 app writing into out; the help text comes from the same app.
void describe(CLI::App& app, SimOptions& out) {
    app.name("varnex-sim");
    app.description(kDescription);
    app.footer(kFooter);
    app.set_help_flag();  // the caller prints help after the control requests are known
    app.get_formatter()->column_width(30);
    app.get_formatter()->label("REQUIRED", "");

    const char* where = "Where it connects";
    app.add_option("--link", out.link,
                   "symlink to the unit's serial port (the PC's COM1); default /tmp/varnex-sim/com1")
        ->option_text("PATH")
        ->group(where);
    app.add_option(
           "--modem", out.modem,
           "file the unit's modem lines are written to (decimal TIOCM bits); the PC's DTR/RTS are read from PATH.pc")
        ->option_text("PATH")
        ->group(where);
    app.add_option("--control", out.control, "Unix socket for control requests (one JSON object per line)")
        ->option_text("PATH")
        ->group(where);
    app.add_option("--log", out.logFile, "human-readable log (default: stderr)")->option_text("FILE")->group(where);
    app.add_option("--events", out.eventsFile, "machine-readable event log, one JSON object per line")
        ->option_text("FILE")
        ->group(where);
    app.add_option("--store", out.storeDir, "folder for tables and files the PC sends (default: a new folder in /tmp)")
        ->option_text("DIR")
        ->group(where);

    const char* scenario = "Scenario";
    app.add_option_function<std::string>(
           "--mode", [&out](const std::string& v) { parseMode(v, out.unit.mode); },
           "off | bootloader | running (default running)")
        ->check(named(parseMode, "off, bootloader or running"))
        ->option_text("MODE")
        ->group(scenario);
    app.add_option("--baud", out.unit.bootBaud, "bootloader speed, 115200 (default) or 57600")
        ->check(CLI::IsMember({kBootloaderFastBaud, kBootloaderSlowBaud}).description(""))
        ->option_text("N")
        ->group(scenario);
    app.add_option("--quiet-gap-ms", out.unit.quietGapMs,
                   "quiet time after an image's last byte before CTS drops (default 1500)")
        ->check(CLI::Range(uint32_t(0), kMaxOptionMs).description(""))
        ->option_text("N")
        ->group(scenario);
    app.add_option("--line", out.unit.line.units,
                   "be a line of N units: after each image and a gap, the next one comes up in its bootloader")
        ->check(CLI::Range(uint32_t(1), kMaxLineUnits).description(""))
        ->option_text("N")
        ->group(scenario);
    app.add_option("--line-gap-ms", out.unit.line.gapMs,
                   "a line's time between one unit going and the next (default 2000)")
        ->check(CLI::Range(uint32_t(0), kMaxOptionMs).description(""))
        ->option_text("N")
        ->group(scenario);
    app.add_option("--line-hold-ms", out.unit.line.holdMs,
                   "how long a never-confirming unit keeps CTS up after its image (default 35000)")
        ->check(CLI::Range(uint32_t(0), kMaxOptionMs).description(""))
        ->option_text("N")
        ->group(scenario);
    app.add_option_function<std::vector<std::string>>(
           "--line-fault",
           [&out](const std::vector<std::string>& values) {
               for (const std::string& value : values) {
                   std::string error;
                   if (!parseLineFault(value, out.unit.line, error)) throw CLI::ValidationError(error);
               }
           },
           "a line unit that fails: UNIT:never_confirm or UNIT:drop_mid_image:BYTES")
        ->option_text("UNIT:FAULT")
        ->group(scenario);
    app.add_option("--erase-ms", out.unit.eraseMs, "how long an erase takes (default 50000)")
        ->check(CLI::Range(uint32_t(0), kMaxOptionMs).description(""))
        ->option_text("N")
        ->group(scenario);
    app.add_option_function<std::string>(
           "--erase-fault", [&out](const std::string& v) { parseEraseFault(v, out.unit.eraseFault); },
           "none | wrong_pair_first | stray_byte | never")
        ->check(named(parseEraseFault, "none, wrong_pair_first, stray_byte or never"))
        ->option_text("F")
        ->group(scenario);
    app.add_option("--nlec-table", out.nlecTable, "the table the PC fetches (default: a small built-in table)")
        ->option_text("FILE")
        ->group(scenario);
    app.add_option("--settings-file", out.settingsFile, "the settings file the PC receives (default: built-in bytes)")
        ->option_text("FILE")
        ->group(scenario);
    app.add_option_function<std::vector<std::string>>(
           "--program-file",
           [&out](const std::vector<std::string>& values) {
               for (const std::string& value : values) {
                   size_t sep = value.find('=');
                   if (sep == std::string::npos) out.programFiles.emplace_back("*", value);
                   else out.programFiles.emplace_back(value.substr(0, sep), value.substr(sep + 1));
               }
           },
           "a program file the PC receives by name (no NAME: any name)")
        ->option_text("[NAME=]FILE")
        ->group(scenario);
    app.add_option("--binary-file", out.binaryFile, "the file served for kind 9")->option_text("FILE")->group(scenario);
    app.add_flag_callback(
           "--no-builtin-content", [&out] { out.builtinContent = false; }, "serve nothing that was not named")
        ->group(scenario);
    app.add_option("--file-chunk", out.unit.fileGetChunk,
                   "bytes per data packet of a file the PC receives (1..512, default 512)")
        ->check(CLI::Range(size_t(1), kMaxPayloadBytes).description(""))
        ->option_text("N")
        ->group(scenario);
    app.add_option_function<std::vector<std::string>>(
           "--fault",
           [&out](const std::vector<std::string>& values) {
               for (const std::string& value : values) {
                   Json rule;
                   std::string error;
                   if (!parseFaultRule(value, rule, error)) throw CLI::ValidationError("--fault", error);
                   out.faults.push_back(rule);
               }
           },
           "arm a fault, e.g. corrupt_byte,at=3 or drop_reply,rate=0.1,seed=7")
        ->option_text("RULE")
        ->group(scenario);
    app.add_option("--seed", out.unit.seed, "seed for rate faults and fault details (default 1)")
        ->option_text("N")
        ->group(scenario);
    app.add_option("--scenario", out.scenarioFile,
                   "control requests (one JSON object a line) run at start; one with \"after_ms\": N runs N ms after "
                   "the start")
        ->option_text("FILE")
        ->group(scenario);
    app.add_flag("--pace", out.unit.pacing, "hold both directions to the real line rate (11 bits per byte)")
        ->group(scenario);
    app.add_flag_callback(
           "--no-garble-output", [&out] { out.unit.garbleOutput = false; },
           "deliver the unit's bytes even when the PC's port is at another speed")
        ->group(scenario);

    app.add_flag("-h,--help", out.help, "print this help and the control requests")->group("Other");
    app.add_flag("--version", out.version, "print the version")->group("Other");
}

}  // namespace

bool parseFaultRule(const std::string& text, Json& out, std::string& error) {
    out = Json::object();
    size_t start = 0;
    bool first = true;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (first) {
            out["kind"] = part;
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
            if (value == "true" || value == "false") out[key] = value == "true";
            else if (!value.empty() && end && *end == '\0' && std::isfinite(number)) out[key] = number;
            else out[key] = value;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return true;
}

bool parseOptions(int argc, const char* const* argv, SimOptions& out, std::string& error) {
    CLI::App app;
    describe(app, out);
    try {
        app.parse(argc, argv);
        return true;
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return false;
    }
}

std::string usageText() {
    CLI::App app;
    SimOptions ignored;
    describe(app, ignored);
    return app.help();
}

}  // namespace sim
