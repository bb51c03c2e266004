// One service command on one running unit, on the worker's thread: open the port, start the
// transfer on the shared engine, run the link until the engine reports the session's end,
// and report it as one Done or Failed event.
#pragma once

#include <string>

#include "cli/Options.h"
#include "cli/load/UnitContext.h"

namespace cli {

// A transfer whose engine has nothing in flight and hears nothing from the unit for this long
// has stalled; it fails instead of waiting for ever.
inline constexpr uint32_t kQuietUnitLimitMs = 10000;

struct ServicePlan {
    Command command = Command::Request;
    std::string file;         // what is sent, or where a receive is saved
    std::string programName;  // program get
};

// Ends with exactly one Done or Failed event; true on Done. The monitor runs until Ctrl-C,
// which is its normal end.
bool RunServiceUnit(const UnitContext& context, const ServicePlan& plan);

}  // namespace cli
