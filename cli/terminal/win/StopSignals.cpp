// Stop events on Windows: the console's handler raises the flag. Closing the console, logging
// off or shutting down ends the process once the handler returns, so for those the handler
// waits until the run has cleaned up (the system allows a few seconds).
#include "cli/terminal/StopSignals.h"

#include <windows.h>

#include "common/StopCause.h"
#include "common/win/Handles.h"

using common::win::UniqueNullHandle;

namespace cli {

namespace {

std::atomic<bool>* g_stop = nullptr;
UniqueNullHandle g_cleanedUp;
// Longer than the system waits for a closing console; the system's own limit ends it first.
constexpr DWORD kCleanupWaitMs = 20000;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    common::NoteStopCause(interrupt ? common::StopCause::Interrupt : common::StopCause::Terminate);
    if (g_stop != nullptr) g_stop->store(true);
    switch (event) {
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            if (g_cleanedUp) WaitForSingleObject(g_cleanedUp.Get(), kCleanupWaitMs);
            return TRUE;
        default: return TRUE;  // Ctrl-C and Ctrl-Break: the run ends itself
    }
}

}  // namespace

void InstallStopHandlers(std::atomic<bool>* stop) {
    g_stop = stop;
    g_cleanedUp.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void StopHandlersCleanedUp() {
    if (g_cleanedUp) SetEvent(g_cleanedUp.Get());
}

}  // namespace cli
