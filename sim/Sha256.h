// SHA-256 of what arrived, so a report can be compared with the image or file that was sent
// without keeping it all in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

class Sha256 {
public:
    Sha256() { reset(); }
    void reset();
    void update(const uint8_t* data, size_t size);
    // Lower-case hex digest of everything fed since the last reset; the object stays usable
    // (the digest is taken from a copy).
    std::string hexDigest() const;

private:
    void block(const uint8_t* p);

    uint32_t state_[8];
    uint8_t buffer_[64];
    size_t buffered_ = 0;
    uint64_t totalBytes_ = 0;
};

std::string sha256Hex(const uint8_t* data, size_t size);

}  // namespace sim
