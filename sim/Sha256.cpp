// The running digest lives in an EVP context; a copy of it gives the digest so far.
#include "sim/Sha256.h"

#include <cstdlib>

#include "sim/Json.h"

namespace sim {
namespace {

// A digest context that cannot be made or started means the process is out of memory or
// its crypto library is broken: no hash the unit reports could be trusted, so stop.
EVP_MD_CTX* checked(EVP_MD_CTX* context) {
    if (!context) std::abort();
    return context;
}

}  // namespace

Sha256::Sha256() : context_(checked(EVP_MD_CTX_new())) { reset(); }

Sha256::Sha256(const Sha256& other) : context_(checked(EVP_MD_CTX_new())) {
    if (EVP_MD_CTX_copy_ex(context_.get(), other.context_.get()) != 1) std::abort();
}

Sha256& Sha256::operator=(const Sha256& other) {
    if (this != &other && EVP_MD_CTX_copy_ex(context_.get(), other.context_.get()) != 1) std::abort();
    return *this;
}

void Sha256::reset() {
    if (EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) std::abort();
}

void Sha256::update(const uint8_t* data, size_t size) {
    if (size > 0 && EVP_DigestUpdate(context_.get(), data, size) != 1) std::abort();
}

std::string Sha256::hexDigest() const {
    Sha256 copy(*this);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(copy.context_.get(), digest, &length) != 1) std::abort();
    return toHex(digest, length);
}

std::string sha256Hex(const uint8_t* data, size_t size) {
    Sha256 hash;
    hash.update(data, size);
    return hash.hexDigest();
}

}  // namespace sim
