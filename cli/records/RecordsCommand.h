// varnex records: the rows (or their per-day summary) of a records file or of the line's
// records server, filtered and written in the chosen form; or a file's rows forwarded.
#pragma once

#include <ostream>

#include "cli/Options.h"

namespace cli {

int RunRecordsCommand(const RecordsOptions& options, std::ostream& out, std::ostream& err);

}  // namespace cli
