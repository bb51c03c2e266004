// Running one job per unit, each on a worker thread of its own, with one presenter for all of
// them: what download, erase and the service commands share. The main thread ticks the hub,
// watches standard output and joins every worker before the end is told.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <ostream>

#include "cli/Options.h"
#include "cli/load/UnitContext.h"
#include "cli/records/RecordKeeping.h"

namespace cli {

// One unit's whole job, on its worker's thread.
using UnitJob = std::function<void(const UnitContext&)>;
// How a run's end is told: a download's and an erase's with the summary table; a service
// command's one unit has said how it ended, and the monitor's Ctrl-C is its end.
enum class RunEnd { Summary, UnitsOnly };

// The exit code: some failed when a unit failed (or, with the summary, Ctrl-C came).
int RunUnits(const UnitsOptions& options, std::ostream& out, std::atomic<bool>& cancel, const UnitJob& job, RunEnd end,
             RecordKeeping* records = nullptr);

// A raw network port takes its line settings from the server: said once, as nothing here
// can check them.
void NoteRawPorts(const UnitsOptions& options, uint32_t baud, std::ostream& err);

}  // namespace cli
