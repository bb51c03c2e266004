// The summary at the end of a run: a table with one row per unit (result, bytes, time,
// rate, detail), or one JSON object with the same under --json.
#pragma once

#include <ostream>

#include "cli/output/UnitBoard.h"

namespace cli {

void WriteSummary(std::ostream& out, const UnitBoard& board, uint64_t nowMs, bool json);

}  // namespace cli
