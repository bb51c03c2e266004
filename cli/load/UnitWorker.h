// One unit's whole job on its own thread: open its port, wait for its CTS, switch speed and
// stream the image (or run the erase handshake), reporting each step to the sink. A worker
// shares nothing with the others but the sink and the Ctrl-C flag.
#pragma once

#include <cstdint>

#include "cli/load/Images.h"
#include "cli/load/UnitContext.h"

namespace cli {

struct DownloadPlan {
    ImageBytes image;
    uint32_t baud = 0;
    uint32_t waitMs = 0;
    bool waitForCts = true;  // false: start at once (--no-cts-wait)
};

// Each ends with exactly one Done or Failed event; true on Done.
bool RunDownloadUnit(const UnitContext& context, const DownloadPlan& plan);
bool RunEraseUnit(const UnitContext& context);

}  // namespace cli
