// The computer's name, the station's name in the records unless --station gives one.
// Defined once per platform (posix/, win/).
#pragma once

#include <string>

namespace cli {

std::string HostName();  // "station" when the system gives none

}  // namespace cli
