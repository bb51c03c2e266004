// SHA-256 of an image, for the records: written here because the shipped programs link
// nothing but the C library, so no crypto library is at hand on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace common {

// Lower-case hex digest of size bytes from data.
std::string Sha256Hex(const uint8_t* data, size_t size);

}  // namespace common
