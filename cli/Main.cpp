// varnex: loads firmware into Varnex 410 units from scripts and production lines. Parses the
// command line, turns every outside request to stop into a flag every worker watches, and
// runs the command.
#include <atomic>
#include <iostream>

#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/StopSignals.h"
#include "cli/Terminal.h"

namespace {

std::atomic<bool> g_cancel{false};

// Runs one command with the stop signals turned into g_cancel for its whole run.
template <typename Run>
int WithStopHandlers(Run run) {
    cli::InstallStopHandlers(&g_cancel);
    int code = run();
    cli::StopHandlersCleanedUp();
    return code;
}

}  // namespace

int main(int argc, char* argv[]) {
    cli::KeepStdoutBytes();
    cli::CommandRunners runners;
    runners.ports = [](const cli::PortsOptions& options) {
        return WithStopHandlers([&] { return cli::RunPortsCommand(options, std::cout, std::cerr); });
    };
    runners.download = [](const cli::DownloadOptions& options) {
        return WithStopHandlers([&] { return cli::RunDownloadCommand(options, std::cout, std::cerr, g_cancel); });
    };
    runners.erase = [](const cli::EraseOptions& options) {
        return WithStopHandlers([&] { return cli::RunEraseCommand(options, std::cout, std::cerr, g_cancel); });
    };
    runners.service = [](const cli::ServiceOptions& options) {
        return WithStopHandlers([&] { return cli::RunServiceCommand(options, std::cout, std::cerr, g_cancel); });
    };
    runners.station = [](const cli::StationOptions& options) {
        return WithStopHandlers([&] { return cli::RunStationCommand(options, std::cout, std::cerr, g_cancel); });
    };
    runners.records = [](const cli::RecordsOptions& options) {
        return cli::RunRecordsCommand(options, std::cout, std::cerr);
    };
    return cli::RunCommandLine(argc, argv, runners, std::cout, std::cerr);
}
