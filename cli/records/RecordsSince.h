// The records' times as a filter takes them, from the command line's --since and the web
// board's query alike.
#pragma once

#include <string>

namespace cli {

// A date or time as --since takes it ("2026-12-08", "2026-12-08 06:30Z"), brought to the
// records' form ("T" between date and time, no closing Z); false when it is neither.
bool RecordsSince(std::string* since);

}  // namespace cli
