// The ways a run is told to stop from outside, all turned into the one flag every worker
// watches, as Ctrl-C is: SIGINT, SIGTERM, SIGHUP and SIGPIPE on POSIX; Ctrl-C, Ctrl-Break and
// the console's close, logoff and shutdown events on Windows. Defined once per platform.
#pragma once

#include <atomic>

namespace cli {

// Installs the handlers; each notes its cause (common/StopCause.h), then raises *stop. Called once,
// before any worker starts.
void InstallStopHandlers(std::atomic<bool>* stop);
// The run has cleaned up (workers joined, temporary files gone). On Windows the process ends
// as soon as a close or logoff handler returns, so the handler waits for this.
void StopHandlersCleanedUp();

}  // namespace cli
