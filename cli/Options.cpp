// The command line of varnex, declared with CLI11 (see Options.h). Each command has its own
// options value; its callback checks what CLI11 cannot say alone and picks its runner.
#include "cli/Options.h"

#include <cctype>
#include <set>

#include <CLI/CLI.hpp>

#include "cli/output/FailureTexts.h"
#include "cli/records/RecordsSince.h"
#include "cli/station/ScannerOptions.h"
#include "cli/station/StationConfig.h"
#include "records/PgConnection.h"
#include "records/RecordStore.h"
#include "serial/LineSpeeds.h"
#include "serial/NetworkPortName.h"
#include "transfer/TransferText.h"
#include "web/Listen.h"

namespace cli {

namespace {

using Chosen = std::function<int()>;

void AddPorts(CLI::App* command, UnitsOptions* units, const char* what) {
    command->add_option("--port,-p", units->ports, std::string("serial port to ") + what + "; repeat for several units")
        ->required()
        ->type_name("PORT");
    command->add_flag("--json", units->json, "one JSON object per line per event, for records");
}

void CheckPortsOnce(const std::vector<std::string>& ports) {
    std::set<std::string> seen;
    for (const std::string& port : ports) {
        if (port.empty()) throw CLI::ValidationError("--port needs a port name");
        if (!seen.insert(port).second) throw CLI::ValidationError("--port " + port + " is given twice");
        serial::NetworkPortAddress address;
        std::string error;
        if (serial::IsNetworkPortName(port) && !serial::ParseNetworkPortName(port, &address, &error)) {
            throw CLI::ValidationError("--port " + error);
        }
    }
}

// download and erase start on the unit's CTS, which a raw network port does not carry.
void CheckCtsOnEveryPort(const std::vector<std::string>& ports, bool noCtsWait) {
    if (noCtsWait) return;
    for (const std::string& port : ports) {
        if (serial::IsRawNetworkPortName(port)) {
            throw CLI::ValidationError("--port " + port +
                                       ": a raw network port carries no CTS, so the unit's readiness cannot be seen; "
                                       "add --no-cts-wait to start at once");
        }
    }
}

void AddNoCtsWait(CLI::App* command, bool* noCtsWait) {
    command->add_flag("--no-cts-wait", *noCtsWait,
                      "start at once, without waiting for CTS (needed on socket:// ports, which carry none)");
}

void AddPortsCommand(CLI::App& app, const CommandRunners& runners, PortsOptions* options, Chosen* chosen) {
    CLI::App* ports = app.add_subcommand("ports", "list the serial ports present");
    ports->add_flag("--probe", options->probe, "open each free port briefly and report whether CTS is up");
    ports
        ->add_option("--remember", options->remember,
                     "store PORT as the port the wizard opens at its next start (Windows)")
        ->type_name("PORT")
        ->excludes("--probe");
    ports
        ->add_flag("--station-config", options->stationConfig,
                   "print a station's configuration with one [[port]] per port found, by stable names")
        ->excludes("--probe")
        ->excludes("--remember");
    ports->callback([&runners, options, chosen] { *chosen = [&runners, options] { return runners.ports(*options); }; });
}

// The image flags become one choice: exactly one of them, --any-size only with a file.
struct ImageFlags {
    bool bootloader = false;
    bool software = false;
};

void CheckImage(DownloadOptions* options, const ImageFlags& flags) {
    int chosen = (flags.bootloader ? 1 : 0) + (flags.software ? 1 : 0) + (options->imageFile.empty() ? 0 : 1);
    if (chosen != 1) throw CLI::ValidationError("choose exactly one image: --bootloader, --software or --image FILE");
    if (options->anySize && options->imageFile.empty())
        throw CLI::ValidationError("--any-size applies only to --image FILE");
    options->image = flags.bootloader ? ImageChoice::Bootloader
                     : flags.software ? ImageChoice::Software
                                      : ImageChoice::File;
}

// A records server's URL as given: a password in it is refused.
void CheckServerUrl(const std::string& url) {
    if (!url.empty() && records::UrlHasPassword(url)) {
        FailureDetails details;
        details.name = records::ServerName(url);
        throw CLI::ValidationError(FailureText(Failure::ServerUrlHasPassword, details));
    }
}

void AddForward(CLI::App* command, std::string* url) {
    command
        ->add_option("--forward", *url,
                     "send the rows on to the line's records server (a libpq connection string or "
                     "postgresql:// URI; the password in the passfile)")
        ->type_name("URL");
}

void AddRecordsFile(CLI::App* command, UnitsOptions* units) {
    command->add_option("--records", units->records, "add a row per unit to this records file (SQLite)")
        ->type_name("FILE");
    AddForward(command, &units->forward);
}

void CheckUnitsForward(const UnitsOptions& units) {
    CheckServerUrl(units.forward);
    if (!units.forward.empty() && units.records.empty())
        throw CLI::ValidationError(FailureText(Failure::ForwardNeedsRecords));
}

void AddImageOptions(CLI::App* download, DownloadOptions* options, ImageFlags* flags) {
    download->add_flag("--bootloader", flags->bootloader, "the embedded bootloader image");
    download->add_flag("--software", flags->software, "the embedded 2-axis software image");
    download->add_option("--image", options->imageFile, "an image file instead of an embedded image")
        ->type_name("FILE");
    download->add_flag("--any-size", options->anySize, "accept an image file of any size");
    download->add_option("--baud", options->baud, "the speed chosen on the unit")
        ->required()
        ->check(
            CLI::IsMember(std::vector<uint32_t>(std::begin(serial::kDownloadBauds), std::end(serial::kDownloadBauds))));
}

void AddDownloadCommand(CLI::App& app, const CommandRunners& runners, DownloadOptions* options, ImageFlags* flags,
                        Chosen* chosen) {
    CLI::App* download = app.add_subcommand("download", "stream a firmware image to each unit in parallel");
    AddPorts(download, &options->units, "load");
    AddImageOptions(download, options, flags);
    AddRecordsFile(download, &options->units);
    download->add_option("--wait", options->waitSeconds, "seconds to wait for each unit's CTS (default 120)")
        ->check(CLI::Range(uint32_t{1}, kMaxWaitSeconds))
        ->type_name("SECONDS");
    AddNoCtsWait(download, &options->noCtsWait);
    download->callback([&runners, options, flags, chosen] {
        CheckImage(options, *flags);
        CheckPortsOnce(options->units.ports);
        CheckUnitsForward(options->units);
        CheckCtsOnEveryPort(options->units.ports, options->noCtsWait);
        *chosen = [&runners, options] { return runners.download(*options); };
    });
}

void AddEraseCommand(CLI::App& app, const CommandRunners& runners, EraseOptions* options, Chosen* chosen) {
    CLI::App* erase = app.add_subcommand("erase", "erase the user storage in each unit's flash");
    AddPorts(erase, &options->units, "erase");
    AddRecordsFile(erase, &options->units);
    AddNoCtsWait(erase, &options->noCtsWait);
    erase->callback([&runners, options, chosen] {
        CheckPortsOnce(options->units.ports);
        CheckUnitsForward(options->units);
        CheckCtsOnEveryPort(options->units.ports, options->noCtsWait);
        *chosen = [&runners, options] { return runners.erase(*options); };
    });
}

// The configuration's keys fill what the command line left unset: an option given on the
// command line wins over its key, and options that go together (the image and --any-size,
// --records and --no-records, the ports and their names) win together.
void ApplyStationConfig(const CLI::App& command, StationOptions* options, ImageFlags* flags) {
    StationConfig config;
    std::string error;
    if (!ReadStationConfig(options->config, &config, &error)) throw CLI::ValidationError(error);
    auto given = [&command](const char* name) { return command.count(name) > 0; };
    if (config.ports && !given("--port")) {
        for (const ConfigPort& port : *config.ports) {
            options->load.units.ports.push_back(port.device);
            options->portNames.push_back(port.name);
        }
    }
    ApplyScannerConfig(command, config, config.ports && !given("--port"), &options->scanners);
    if (!given("--bootloader") && !given("--software") && !given("--image")) {
        if (config.image) {
            flags->bootloader = *config.image == kConfigBootloader;
            flags->software = *config.image == kConfigSoftware;
            if (!flags->bootloader && !flags->software) options->load.imageFile = *config.image;
        }
        if (config.anySize && !given("--any-size")) options->load.anySize = *config.anySize;
    }
    if (config.baud && !given("--baud")) options->load.baud = *config.baud;
    if (!given("--records") && !given("--no-records")) {
        if (config.records && config.noRecords.value_or(false)) {
            throw CLI::ValidationError(options->config + ": records and no_records = true: keep one of them");
        }
        if (config.records) options->records = *config.records;
        if (config.noRecords) options->noRecords = *config.noRecords;
    }
    if (config.station && !given("--station")) options->station = *config.station;
    if (config.count && !given("--count")) options->count = *config.count;
    if (config.stopOnFailure && !given("--stop-on-failure")) options->stopOnFailure = *config.stopOnFailure;
    if (config.json && !given("--json")) options->load.units.json = *config.json;
    if (config.http && !given("--http")) options->http = *config.http;
    if (config.httpTokenFile && !given("--http-token-file")) options->httpTokenFile = *config.httpTokenFile;
    // The records' server goes with the records: --no-records on the command line drops the
    // file's forward with its records, as --forward replaces it.
    if (config.forward && !given("--forward") && !given("--no-records")) options->forward = *config.forward;
}

void AddStationCommand(CLI::App& app, const CommandRunners& runners, StationOptions* options, ImageFlags* flags,
                       Chosen* chosen) {
    CLI::App* station =
        app.add_subcommand("station",
                           "load unit after unit on every port, each port on its own, with a record of each");
    AddPorts(station, &options->load.units, "load units on");
    AddImageOptions(station, &options->load, flags);
    // Either may come from the configuration instead; checked once both are read.
    station->get_option("--port")->required(false);
    station->get_option("--baud")->required(false);
    station
        ->add_option("--config", options->config,
                     "the station's setup in a TOML file; an option given here wins over its key")
        ->type_name("FILE");
    options->records = records::kDefaultFile;
    CLI::Option* file = station
                            ->add_option("--records", options->records,
                                         std::string("the records file (SQLite; default ") + records::kDefaultFile +
                                             " in the current folder)")
                            ->type_name("FILE");
    station->add_flag("--no-records", options->noRecords, "keep no records")->excludes(file);
    AddForward(station, &options->forward);
    station->add_option("--station", options->station, "the station's name in the records (default: the host's name)")
        ->type_name("NAME");
    station->add_option("--count", options->count, "end after N units loaded (over all ports)")
        ->check(CLI::PositiveNumber)
        ->type_name("N");
    station->add_flag("--stop-on-failure", options->stopOnFailure, "end, cleanly, at the first unit that fails");
    AddScannerOptions(station, &options->scanners);
    CLI::Option* http =
        station
            ->add_option("--http", options->http,
                         "serve the board as a web page at [ADDR:]PORT (ADDR 127.0.0.1 unless given; 0.0.0.0: every "
                         "network of this machine)")
            ->type_name("[ADDR:]PORT");
    station
        ->add_option("--http-token-file", options->httpTokenFile,
                     "a token every browser must give once (open /?token=...) to see the web board")
        ->type_name("FILE")
        ->needs(http);
    station->callback([station, &runners, options, flags, chosen] {
        if (!options->config.empty()) ApplyStationConfig(*station, options, flags);
        if (options->load.units.ports.empty()) {
            throw CLI::ValidationError("--port is required (or [[port]] tables in the --config file)");
        }
        if (options->load.baud == 0) throw CLI::ValidationError("--baud is required (or baud in the --config file)");
        if (options->portNames.empty()) options->portNames = options->load.units.ports;
        if (!options->http.empty()) {
            web::ListenAddress address;
            std::string error;
            if (!web::ParseListenAddress(options->http, &address, &error)) throw CLI::ValidationError(error);
        }
        CheckImage(&options->load, *flags);
        CheckPortsOnce(options->load.units.ports);
        for (const std::string& port : options->load.units.ports) {
            if (serial::IsRawNetworkPortName(port)) {
                throw CLI::ValidationError("--port " + port +
                                           ": a raw network port carries no CTS, which a station's every step reads; "
                                           "use an rfc2217:// port");
            }
        }
        CheckScannerOptions(options->load.units.ports, options->portNames, &options->scanners);
        if (options->noRecords) options->records.clear();
        if (options->records.empty() && !options->noRecords) throw CLI::ValidationError("--records needs a file name");
        if (!options->forward.empty() && options->noRecords)
            throw CLI::ValidationError(FailureText(Failure::ForwardNeedsRecords));
        CheckServerUrl(options->forward);
        *chosen = [&runners, options] { return runners.station(*options); };
    });
}

// --since as the records write their times: "T" between date and time, no closing Z.
void CheckSince(std::string* since) {
    if (since->empty()) return;
    if (!RecordsSince(since))
        throw CLI::ValidationError("--since " + *since + ": give a date as 2026-12-08, or a time as 2026-12-08T06:30");
}

void AddRecordsCommand(CLI::App& app, const CommandRunners& runners, RecordsOptions* options, Chosen* chosen) {
    CLI::App* command = app.add_subcommand("records", "list the records of loads, newest last");
    options->file = records::kDefaultFile;
    command->add_option("FILE", options->file, std::string("the records file (default ") + records::kDefaultFile + ")");
    command->add_option("--since", options->since, "only loads started on or after this date or time (UTC)")
        ->type_name("DATE");
    command->add_option("--port", options->port, "only loads on this port")->type_name("PORT");
    const std::vector<std::string> results = {records::kConfirmed,      records::kDone,    records::kFailed,
                                              records::kNoConfirmation, records::kStopped, records::kInterrupted};
    command->add_option("--result", options->result, "only loads with this result")
        ->check(CLI::IsMember(results))
        ->type_name("RESULT");
    command->add_option("--format", options->format, "table (default), csv or json (one object per row)")
        ->transform(CLI::CheckedTransformer(std::map<std::string, RecordsFormat>{{"table", RecordsFormat::Table},
                                                                                 {"csv", RecordsFormat::Csv},
                                                                                 {"json", RecordsFormat::Json}},
                                            CLI::ignore_case))
        ->type_name("FORMAT");
    command->add_flag("--summary", options->summary,
                      "per day, station and port: units loaded, failed, median duration, first-pass yield");
    command->add_option("--station", options->station, "only loads of this station")->type_name("NAME");
    command->add_option("--serial", options->serial, "only loads of the unit with this serial")->type_name("SN");
    CLI::App* forward = command->add_subcommand("forward", "send a records file's rows to the line's records server");
    forward->add_option("FILE", options->forwardFile, "the records file")->required();
    forward->add_option("URL", options->forwardUrl, "the server (a libpq connection string or postgresql:// URI)")
        ->required();
    command->callback([&runners, options, chosen, forward] {
        options->forward = forward->parsed();
        CheckServerUrl(options->forward ? options->forwardUrl : options->file);
        CheckSince(&options->since);
        *chosen = [&runners, options] { return runners.records(*options); };
    });
}

void AddLineCommand(CLI::App& app, const CommandRunners& runners, LineOptions* options, Chosen* chosen) {
    CLI::App* command =
        app.add_subcommand("line", "serve a page of every station of the line, from their heartbeats on the server");
    command
        ->add_option("URL", options->url, "the line's records server (a libpq connection string or postgresql:// URI)")
        ->required();
    command
        ->add_option("--http", options->http,
                     "serve the page at [ADDR:]PORT (ADDR 127.0.0.1 unless given; 0.0.0.0: every network of this "
                     "machine)")
        ->required()
        ->type_name("[ADDR:]PORT");
    command->add_option("--http-token-file", options->httpTokenFile, "the page's token, the file's first line")
        ->type_name("FILE");
    command->add_option("--shift-hours", options->shiftHours, "the charts cover the loads of this many hours back")
        ->check(CLI::Range(1, kMaxShiftHours))
        ->type_name("N");
    command->callback([&runners, options, chosen] {
        CheckServerUrl(options->url);
        if (!records::IsServerUrl(options->url))
            throw CLI::ValidationError(
                "URL: give the records server as a libpq connection string or postgresql:// URI");
        *chosen = [&runners, options] { return runners.line(*options); };
    });
}

void CheckProgramName(const std::string& name) {
    if (name.empty()) throw CLI::ValidationError("NAME: the program's name is empty");
    if (name.size() > transfer::kMaxProgramNameLength) {
        throw CLI::ValidationError("NAME: a program's name has at most " +
                                   std::to_string(transfer::kMaxProgramNameLength) + " characters");
    }
}

// The service commands talk to one running unit over the packet link; they share one options
// value, as only one of them runs.
class ServiceCommands {
public:
    ServiceCommands(const CommandRunners& runners, ServiceOptions* options, Chosen* chosen)
        : runners_(runners), options_(options), chosen_(chosen) {}

    void Add(CLI::App& app) {
        CLI::App* nlec = app.add_subcommand("nlec", "the unit's NLEC table as a text file")->require_subcommand(1);
        AddFile(AddCommand(nlec, "get", "fetch the unit's NLEC table into FILE", Command::NlecGet),
                "the text file to write");
        AddFile(AddCommand(nlec, "send", "send the NLEC table in FILE to the unit", Command::NlecSend),
                "the text file to send")
            ->check(CLI::ExistingFile);

        CLI::App* settings = app.add_subcommand("settings", "the unit's settings file")->require_subcommand(1);
        AddFile(AddCommand(settings, "get", "fetch the unit's settings into FILE", Command::SettingsGet),
                "the file to write");
        AddFile(AddCommand(settings, "send", "send the settings in FILE to the unit", Command::SettingsSend),
                "the file to send")
            ->check(CLI::ExistingFile);

        CLI::App* program = app.add_subcommand("program", "a program stored in the unit")->require_subcommand(1);
        CLI::App* get = AddCommand(program, "get", "fetch the unit's program NAME into FILE", Command::ProgramGet);
        get->add_option("NAME", options_->programName, "the program's name in the unit")->required();
        AddFile(get, "the file to write");
        AddFile(AddCommand(program, "send", "send the program in FILE to the unit", Command::ProgramSend),
                "the file to send")
            ->check(CLI::ExistingFile);

        CLI::App* bitmap = app.add_subcommand("bitmap", "a bitmap for the unit's display")->require_subcommand(1);
        AddCommand(bitmap, "send", "convert the hexadecimal text in TEXTFILE and send the bitmap", Command::BitmapSend)
            ->add_option("TEXTFILE", options_->file, "the bitmap as 0x.. pairs of hexadecimal digits")
            ->required()
            ->check(CLI::ExistingFile);

        AddCommand(&app, "monitor", "print the unit's log lines and unknown packets until Ctrl-C", Command::Monitor);
        AddCommand(&app, "request", "send the unit the fixed request", Command::Request);
    }

private:
    CLI::App* AddCommand(CLI::App* parent, const char* name, const char* help, Command command) {
        CLI::App* app = parent->add_subcommand(name, help);
        app->add_option("--port,-p", options_->units.ports, "serial port of the running unit")
            ->required()
            ->type_name("PORT");
        app->add_flag("--json", options_->units.json, "one JSON object per line per event, for records");
        app->callback([this, command] { Choose(command); });
        return app;
    }
    CLI::Option* AddFile(CLI::App* app, const char* help) {
        return app->add_option("FILE", options_->file, help)->required();
    }
    void Choose(Command command) {
        options_->command = command;
        if (options_->units.ports.size() != 1)
            throw CLI::ValidationError("--port: a service command talks to one unit");
        if (command == Command::ProgramGet) CheckProgramName(options_->programName);
        CheckPortsOnce(options_->units.ports);
        *chosen_ = [this] { return runners_.service(*options_); };
    }

    const CommandRunners& runners_;
    ServiceOptions* options_;
    Chosen* chosen_;
};

bool IsCommandName(const CLI::App& app, const std::string& name) {
    try {
        return app.get_subcommand(name) != nullptr;
    } catch (const CLI::OptionNotFound&) {
        return false;
    }
}

}  // namespace

int RunCommandLine(int argc, const char* const argv[], const CommandRunners& runners, std::ostream& out,
                   std::ostream& err) {
    CLI::App app("Loads firmware into Varnex 410 units over serial ports, several units at once.", "varnex");
    app.set_version_flag("--version", std::string("varnex ") + kVersion);
    app.require_subcommand(1);

    Chosen chosen;
    PortsOptions ports;
    AddPortsCommand(app, runners, &ports, &chosen);
    DownloadOptions download;
    ImageFlags imageFlags;
    AddDownloadCommand(app, runners, &download, &imageFlags, &chosen);
    EraseOptions erase;
    AddEraseCommand(app, runners, &erase, &chosen);
    ServiceOptions service;
    ServiceCommands serviceCommands(runners, &service, &chosen);
    serviceCommands.Add(app);
    StationOptions station;
    ImageFlags stationFlags;
    AddStationCommand(app, runners, &station, &stationFlags, &chosen);
    RecordsOptions records;
    AddRecordsCommand(app, runners, &records, &chosen);
    LineOptions line;
    AddLineCommand(app, runners, &line, &chosen);

    try {
        // CLI11 alone would only say that a command is required.
        bool known = argc > 1 && IsCommandName(app, argv[1]);
        if (argc > 1 && argv[1][0] != '-' && !known) {
            throw CLI::ValidationError(std::string("unknown command ") + argv[1] +
                                       ": use ports, download, erase, station, records, line, nlec, settings, program, "
                                       "bitmap, monitor or request");
        }
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int code = app.exit(error, out, err);
        return code == 0 ? kExitAllDone : kExitUsage;
    }
    if (!chosen) {  // every command picks its runner; a command added without one is a slip
        err << "varnex: no command was chosen" << std::endl;
        return kExitUsage;
    }
    return chosen();
}

}  // namespace cli
