// The command line of varnex, declared with CLI11 (see Options.h).
#include "cli/Options.h"

#include <algorithm>
#include <set>

#include <CLI/CLI.hpp>

namespace cli {

namespace {

constexpr uint32_t kDownloadSpeeds[] = {115200, 57600};

void AddPorts(CLI::App* command, Options* options, const char* what) {
    command->add_option("--port,-p", options->ports, std::string("serial port to ") + what + "; repeat for several units")
        ->required()
        ->type_name("PORT");
    command->add_flag("--json", options->json, "one JSON object per line per event, for records");
}

// What CLI11 cannot say alone: one image choice, --any-size only with a file, each port once.
void CheckDownload(const Options& options, bool bootloader, bool software) {
    int chosen = (bootloader ? 1 : 0) + (software ? 1 : 0) + (options.imageFile.empty() ? 0 : 1);
    if (chosen != 1) throw CLI::ValidationError("choose exactly one image: --bootloader, --software or --image FILE");
    if (options.anySize && options.imageFile.empty()) throw CLI::ValidationError("--any-size applies only to --image FILE");
}

void CheckPortsOnce(const std::vector<std::string>& ports) {
    std::set<std::string> seen;
    for (const std::string& port : ports) {
        if (port.empty()) throw CLI::ValidationError("--port needs a port name");
        if (!seen.insert(port).second) throw CLI::ValidationError("--port " + port + " is given twice");
    }
}

}  // namespace

std::optional<int> ParseCommandLine(int argc, const char* const argv[], Options* options, std::ostream& out,
                                    std::ostream& err) {
    CLI::App app("Loads firmware into Varnex 410 units over serial ports, several units at once.", "varnex");
    app.set_version_flag("--version", std::string("varnex ") + kVersion);
    app.require_subcommand(1);

    CLI::App* ports = app.add_subcommand("ports", "list the serial ports present");
    ports->add_flag("--probe", options->probe, "open each free port briefly and report whether CTS is up");
    ports->add_option("--remember", options->remember, "store PORT as the port the wizard opens at its next start (Windows)")
        ->type_name("PORT")
        ->excludes("--probe");

    bool bootloader = false;
    bool software = false;
    CLI::App* download = app.add_subcommand("download", "stream a firmware image to each unit in parallel");
    AddPorts(download, options, "load");
    download->add_flag("--bootloader", bootloader, "the embedded bootloader image");
    download->add_flag("--software", software, "the embedded 2-axis software image");
    download->add_option("--image", options->imageFile, "an image file instead of an embedded image")->type_name("FILE");
    download->add_flag("--any-size", options->anySize, "accept an image file of any size");
    download->add_option("--baud", options->baud, "the speed chosen on the unit")
        ->required()
        ->check(CLI::IsMember(std::vector<uint32_t>(std::begin(kDownloadSpeeds), std::end(kDownloadSpeeds))));
    download->add_option("--wait", options->waitSeconds, "seconds to wait for each unit's CTS (default 120)")
        ->check(CLI::Range(uint32_t{1}, kMaxWaitSeconds))
        ->type_name("SECONDS");

    CLI::App* erase = app.add_subcommand("erase", "erase the user storage in each unit's flash");
    AddPorts(erase, options, "erase");

    try {
        // CLI11 alone would only say that a command is required.
        bool known = argc > 1 && (ports->check_name(argv[1]) || download->check_name(argv[1]) || erase->check_name(argv[1]));
        if (argc > 1 && argv[1][0] != '-' && !known) {
            throw CLI::ValidationError(std::string("unknown command ") + argv[1] + ": use ports, download or erase");
        }
        app.parse(argc, argv);
        if (download->parsed()) {
            options->command = Command::Download;
            CheckDownload(*options, bootloader, software);
            options->image = bootloader ? ImageChoice::Bootloader : software ? ImageChoice::Software : ImageChoice::File;
        } else if (erase->parsed()) {
            options->command = Command::Erase;
        } else {
            options->command = Command::Ports;
        }
        CheckPortsOnce(options->ports);
    } catch (const CLI::ParseError& error) {
        int code = app.exit(error, out, err);
        return code == 0 ? kExitAllDone : kExitUsage;
    }
    return std::nullopt;
}

}  // namespace cli
