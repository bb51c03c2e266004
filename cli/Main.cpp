// varnex: loads firmware into Varnex 410 units from scripts and production lines. Parses the
// command line, turns Ctrl-C into a flag every worker watches, and runs the command.
#include <atomic>
#include <csignal>
#include <iostream>

#include "cli/Commands.h"
#include "cli/Options.h"

namespace {

std::atomic<bool> g_cancel{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the Ctrl-C flag is set from a signal handler");

extern "C" void OnStopSignal(int) { g_cancel.store(true); }

}  // namespace

int main(int argc, char* argv[]) {
    cli::Options options;
    if (auto code = cli::ParseCommandLine(argc, argv, &options, std::cout, std::cerr)) return *code;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    if (options.command == cli::Command::Ports) return cli::RunPortsCommand(options, std::cout, std::cerr);
    return cli::RunUnitsCommand(options, std::cout, std::cerr, g_cancel);
}
