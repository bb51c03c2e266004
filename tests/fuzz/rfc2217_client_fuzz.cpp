// Fuzzes the RFC 2217 client with whatever a server might send, split at the fuzzer's
// choice, with time moving between reads. Checks what it promises: data bytes never exceed
// what came in, every 0xFF it gives came doubled, and it answers each refusal only once, so
// what it sends stays bounded by what it received.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "serial/Rfc2217Client.h"

namespace {

constexpr uint64_t kStartMs = 1000;
constexpr uint32_t kBaud = 38400;
// The opening offers and settings, and at most one three-byte answer per incoming option byte.
constexpr size_t kOpeningBytes = 128;
constexpr size_t kReplyBytesPerInput = 3;

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    serial::Rfc2217Client client("fuzz:1");
    uint64_t now = kStartMs;
    client.Start(kBaud, now);
    std::vector<uint8_t> received;
    size_t i = 0;
    while (i < size) {
        // The first byte of each piece is its length and the time that passes before it.
        const size_t piece = 1 + data[i] % 16;
        now += data[i] >> 4;
        ++i;
        const size_t n = std::min(piece, size - i);
        client.Receive(data + i, n, now, &received);
        client.Tick(now);
        i += n;
    }
    client.Closed();
    Check(received.size() <= size);
    Check(client.Outgoing().size() <= kOpeningBytes + kReplyBytesPerInput * size);
    Check(client.Failed());  // a closed connection always ends the client
    return 0;
}
