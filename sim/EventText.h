// One human-readable log line for an event, for the technician watching the unit.
#pragma once

#include <string>

#include "sim/Json.h"

namespace sim {

std::string eventText(const Json& event);

}  // namespace sim
