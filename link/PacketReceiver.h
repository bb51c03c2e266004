// The byte-driven frame assembler of the comm-event thread: bytes and "now" in, complete
// frames out through a callback. Constant time per byte, no I/O, no lock; the only word the
// UI thread writes (the receive state, on a timeout) is atomic and changed by exchange.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "link/LinkState.h"
#include "link/PacketRecord.h"

namespace packetlink {

enum class ReceiveState : int {
    Hunting = 0,     // waiting for the first mark
    SecondMark = 1,  // one mark seen
    Header = 2,      // collecting the 8 header bytes after the marks
    Payload = 3,     // collecting length payload bytes
};

inline constexpr int kHeaderFieldBytes = 8;  // checksum, length, command, id

// Gets each complete frame; the record is only valid during the call.
using FrameSink = void (*)(const PacketRecord& frame, void* context);

class PacketReceiver {
public:
    // linkState is the link's shared wait state, kept by the link's owner.
    explicit PacketReceiver(std::atomic<LinkState>& linkState) : linkState_(linkState) {}

    // Comm-event thread: consumes count bytes received at tick now.
    void Receive(const uint8_t* bytes, size_t count, uint32_t now, FrameSink sink, void* context);

    // UI thread: puts any unfinished frame aside; the next bytes hunt for marks again.
    void ResetAssembly() { receiveState_.store(ReceiveState::Hunting); }

    ReceiveState ReceiveStateNow() const { return receiveState_.load(); }
    // Both marks seen: the bytes coming in belong to a frame, not to noise.
    bool FrameUnderway() const {
        const ReceiveState state = receiveState_.load();
        return state == ReceiveState::Header || state == ReceiveState::Payload;
    }
    uint32_t LastByteTick() const { return lastByteTick_.load(); }

private:
    // Moves from the state this byte was read in to next; false when a reset from the
    // other thread came first, so the byte belongs to no frame.
    bool Advance(ReceiveState from, ReceiveState next) { return receiveState_.compare_exchange_strong(from, next); }
    void CompleteFrame(FrameSink sink, void* context);

    std::atomic<LinkState>& linkState_;
    std::atomic<ReceiveState> receiveState_{ReceiveState::Hunting};
    std::atomic<uint32_t> lastByteTick_{0};
    uint8_t headerBytes_[kHeaderFieldBytes] = {};
    int headerCount_ = 0;
    PacketRecord work_{};
};

}  // namespace packetlink
