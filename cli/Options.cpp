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

// The service commands talk to one running unit over the packet link.
void AddServicePort(CLI::App* command, Options* options) {
    command->add_option("--port,-p", options->ports, "serial port of the running unit")->required()->type_name("PORT");
    command->add_flag("--json", options->json, "one JSON object per line per event, for records");
}

struct ServiceCommand {
    CLI::App* app;
    Command command;
};

// Adds "GROUP ACTION [NAME] FILE": the file to send or to save the receive under.
CLI::App* AddFileCommand(CLI::App* group, const char* action, const char* help, Options* options,
                         std::vector<ServiceCommand>* all, Command command) {
    CLI::App* app = group->add_subcommand(action, help);
    AddServicePort(app, options);
    all->push_back({app, command});
    return app;
}

void AddServiceCommands(CLI::App& app, Options* options, std::vector<ServiceCommand>* all) {
    CLI::App* nlec = app.add_subcommand("nlec", "the unit's NLEC table as a text file")->require_subcommand(1);
    AddFileCommand(nlec, "get", "fetch the unit's NLEC table into FILE", options, all, Command::NlecGet)
        ->add_option("FILE", options->file, "the text file to write")->required();
    AddFileCommand(nlec, "send", "send the NLEC table in FILE to the unit", options, all, Command::NlecSend)
        ->add_option("FILE", options->file, "the text file to send")->required()->check(CLI::ExistingFile);

    CLI::App* settings = app.add_subcommand("settings", "the unit's settings file")->require_subcommand(1);
    AddFileCommand(settings, "get", "fetch the unit's settings into FILE", options, all, Command::SettingsGet)
        ->add_option("FILE", options->file, "the file to write")->required();
    AddFileCommand(settings, "send", "send the settings in FILE to the unit", options, all, Command::SettingsSend)
        ->add_option("FILE", options->file, "the file to send")->required()->check(CLI::ExistingFile);

    CLI::App* program = app.add_subcommand("program", "a program stored in the unit")->require_subcommand(1);
    CLI::App* get = AddFileCommand(program, "get", "fetch the unit's program NAME into FILE", options, all,
                                   Command::ProgramGet);
    get->add_option("NAME", options->programName, "the program's name in the unit")->required();
    get->add_option("FILE", options->file, "the file to write")->required();
    AddFileCommand(program, "send", "send the program in FILE to the unit", options, all, Command::ProgramSend)
        ->add_option("FILE", options->file, "the file to send")->required()->check(CLI::ExistingFile);

    CLI::App* bitmap = app.add_subcommand("bitmap", "a bitmap for the unit's display")->require_subcommand(1);
    AddFileCommand(bitmap, "send", "convert the hexadecimal text in TEXTFILE and send the bitmap", options, all,
                   Command::BitmapSend)
        ->add_option("TEXTFILE", options->file, "the bitmap as 0x.. pairs of hexadecimal digits")
        ->required()
        ->check(CLI::ExistingFile);

    CLI::App* monitor = app.add_subcommand("monitor", "print the unit's log lines and unknown packets until Ctrl-C");
    AddServicePort(monitor, options);
    all->push_back({monitor, Command::Monitor});
    CLI::App* request = app.add_subcommand("request", "send the unit the fixed request");
    AddServicePort(request, options);
    all->push_back({request, Command::Request});
}

bool IsCommandName(const CLI::App& app, const std::string& name) {
    try {
        return app.get_subcommand(name) != nullptr;
    } catch (const CLI::OptionNotFound&) {
        return false;
    }
}

void CheckProgramName(const std::string& name) {
    if (name.empty()) throw CLI::ValidationError("NAME: the program's name is empty");
    if (name.size() > kMaxProgramNameChars) {
        throw CLI::ValidationError("NAME: a program's name has at most " + std::to_string(kMaxProgramNameChars) +
                                   " characters");
    }
}

}  // namespace

bool IsServiceCommand(Command command) {
    switch (command) {
    case Command::Ports:
    case Command::Download:
    case Command::Erase:
        return false;
    default:
        return true;
    }
}

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

    std::vector<ServiceCommand> service;
    AddServiceCommands(app, options, &service);

    try {
        // CLI11 alone would only say that a command is required.
        bool known = argc > 1 && IsCommandName(app, argv[1]);
        if (argc > 1 && argv[1][0] != '-' && !known) {
            throw CLI::ValidationError(std::string("unknown command ") + argv[1] +
                                       ": use ports, download, erase, nlec, settings, program, bitmap, monitor or request");
        }
        app.parse(argc, argv);
        if (download->parsed()) {
            options->command = Command::Download;
            CheckDownload(*options, bootloader, software);
            options->image = bootloader ? ImageChoice::Bootloader : software ? ImageChoice::Software : ImageChoice::File;
        } else if (erase->parsed()) {
            options->command = Command::Erase;
        } else if (auto chosen = std::find_if(service.begin(), service.end(),
                                              [](const ServiceCommand& c) { return c.app->parsed(); });
                   chosen != service.end()) {
            options->command = chosen->command;
            if (options->ports.size() != 1) throw CLI::ValidationError("--port: a service command talks to one unit");
            if (options->command == Command::ProgramGet) CheckProgramName(options->programName);
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
