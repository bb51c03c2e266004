// SHA-256 of what arrived (OpenSSL's EVP digest), so a report can be compared with the image
// or file that was sent without keeping it all in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <openssl/evp.h>

namespace sim {

class Sha256 {
public:
    Sha256();
    Sha256(const Sha256& other);
    Sha256& operator=(const Sha256& other);
    Sha256(Sha256&&) noexcept = default;
    Sha256& operator=(Sha256&&) noexcept = default;

    void reset();
    void update(const uint8_t* data, size_t size);
    // Lower-case hex digest of everything fed since the last reset; the object stays usable
    // (the digest is taken from a copy).
    std::string hexDigest() const;

private:
    struct Free {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> context_;
};

std::string sha256Hex(const uint8_t* data, size_t size);

}  // namespace sim
