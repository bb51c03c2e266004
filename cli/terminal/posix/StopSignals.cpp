// Stop signals on POSIX: each one only raises the flag, the one thing a handler may do. A
// broken pipe raises it too instead of ending the process mid-write, so the run cleans up.
#include "cli/terminal/StopSignals.h"

#include <csignal>

#include "common/StopCause.h"

namespace cli {

namespace {

std::atomic<bool>* g_stop = nullptr;
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

extern "C" void OnStopSignal(int number) {
    // The cause first, so whoever sees the flag reads it.
    common::NoteStopCause(number == SIGINT ? common::StopCause::Interrupt : common::StopCause::Terminate);
    if (g_stop != nullptr) g_stop->store(true);
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

}  // namespace

void InstallStopHandlers(std::atomic<bool>* stop) {
    g_stop = stop;
    for (int number : kStopSignals) {
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(number, &action, nullptr);
    }
}

void StopHandlersCleanedUp() {}

}  // namespace cli
