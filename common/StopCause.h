// Why a run was told to stop, kept apart from the flag every worker watches: the stop handlers
// note it, and a load cut short is worded by it ("stopped by Ctrl-C" or plain "stopped").
#pragma once

namespace common {

// Ctrl-C (or Ctrl-Break) at the console, or a stop from the system (SIGTERM from systemctl
// stop or a shutdown, a hang-up, a console closed, standard output gone).
enum class StopCause { None, Interrupt, Terminate };

// Called from a signal or console handler: only the first cause is kept. Lock-free.
void NoteStopCause(StopCause cause);
// The first stop request's cause; None before any.
StopCause CurrentStopCause();

}  // namespace common
