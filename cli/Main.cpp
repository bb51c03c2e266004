// varnex: loads firmware into Varnex 410 units from scripts and production lines. Parses the
// command line, turns every outside request to stop into a flag every worker watches, and
// runs the command.
#include <atomic>
#include <functional>
#include <iostream>

#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/terminal/StopSignals.h"
#include "cli/terminal/Terminal.h"

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
    const cli::CommandRunners runners =
        cli::CommandRunnersFor(std::cout, std::cerr, g_cancel,
                               [](const std::function<int()>& run) { return WithStopHandlers(run); });
    return cli::RunCommandLine(argc, argv, runners, std::cout, std::cerr);
}
