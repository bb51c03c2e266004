// varnex: loads firmware into Varnex 410 units from scripts and production lines. Parses the
// command line, turns every outside request to stop into a flag every worker watches, and
// runs the command.
#include <atomic>
#include <iostream>

#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/StopSignals.h"

namespace {

std::atomic<bool> g_cancel{false};

}  // namespace

int main(int argc, char* argv[]) {
    cli::Options options;
    if (auto code = cli::ParseCommandLine(argc, argv, &options, std::cout, std::cerr)) return *code;
    cli::InstallStopHandlers(&g_cancel);
    int code = options.command == cli::Command::Ports ? cli::RunPortsCommand(options, std::cout, std::cerr)
                                                       : cli::RunUnitsCommand(options, std::cout, std::cerr, g_cancel);
    cli::StopHandlersCleanedUp();
    return code;
}
