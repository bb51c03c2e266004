// varnex ports --station-config: a ready station configuration for the ports this machine
// has, one [[port]] per port, each on its most stable name (by-path: the hub's socket, so a
// fixture position), in the hub's order, named "fixture N".
#pragma once

#include <string>
#include <vector>

#include "cli/station/StationConfig.h"
#include "serial/PortList.h"

namespace cli {

// The ports as fixtures: those with a by-path name first, in the hub's order (the numbers in
// the names compared as numbers, so socket 1.10 comes after 1.2), then the others by their
// by-id name or their device; named "fixture 1", "fixture 2", ...
std::vector<ConfigPort> FixturesOf(const std::vector<serial::PortInfo>& ports);

// The configuration's text: the image and speed to edit, then the fixtures' [[port]] tables.
std::string StationConfigText(const std::vector<ConfigPort>& fixtures);

// Whether a comes before b when the digit runs in both are compared as numbers.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace cli
