// What tells a station's ports apart when their names must be shortened, kept whole: a by-id
// name's adapter serial (as the adapter's label and lsusb show it), a by-path name's hub
// position, and for any other name what is left once the parts every such name shares are
// dropped. Worked out once for the station's ports; the views only fit text around it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace board {

// A stretch of a port's name, in bytes.
struct NamePart {
    size_t start = 0;
    size_t length = 0;
    std::string Of(const std::string& name) const { return name.substr(start, length); }
};

// For each name, the part that sets it apart from the others (never empty for a name that is not).
std::vector<NamePart> DistinctParts(const std::vector<std::string>& names);

// The name whole when it fits width; else as much of it around the part as fits, with "…"
// where something was left out; else the part itself shortened in its middle.
std::string FitKeeping(const std::string& name, NamePart part, size_t width);

}  // namespace board
