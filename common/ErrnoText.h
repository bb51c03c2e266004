// The C library's words for an errno value, spelled here once for every layer (the ports,
// the transfer's files, varnex's images): strerror's words, without its shared buffer.
#pragma once

#include <string>
#include <system_error>

namespace common {

inline std::string ErrnoText(int error) { return std::generic_category().message(error); }

}  // namespace common
