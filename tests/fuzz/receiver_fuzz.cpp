// Fuzzes the frame receiver with arbitrary bytes, cut into arbitrary chunks, with timer
// resets (as the UI thread makes them) between and inside chunks. Checks every frame it
// posts against the bytes: counts within capacity, length kept, checksum recomputed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <atomic>

#include "link/Frame.h"
#include "link/LinkState.h"
#include "link/PacketReceiver.h"

using namespace packetlink;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckFrame(const PacketRecord& frame, void*) {
    Check(frame.payloadCount >= 0 && frame.payloadCount <= static_cast<int>(kMaxPayload));
    Check(frame.payloadCount == frame.length);
    uint16_t sum = static_cast<uint16_t>((frame.length & 0xFF) + (frame.length >> 8) + (frame.command & 0xFF) +
                                         (frame.command >> 8) + (frame.id & 0xFF) + (frame.id >> 8));
    for (int i = 0; i < frame.payloadCount; ++i) sum = static_cast<uint16_t>(sum + frame.payload[i]);
    Check(sum == frame.computedChecksum);
    Check(frame.payload[frame.payloadCount] == 0);
}

// The control byte of each step: low bits the chunk size, a high bit asks for a reset
// before the chunk, another for one inside it, after as many bytes as the next byte says.
constexpr uint8_t kChunkMask = 0x3F;
constexpr uint8_t kResetBefore = 0x80;
constexpr uint8_t kResetInside = 0x40;
constexpr size_t kMaxChunk = 511;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::atomic<LinkState> linkState{LinkState::Idle};
    PacketReceiver receiver(linkState);
    uint32_t now = 0;
    size_t at = 0;
    while (at < size) {
        const uint8_t control = data[at++];
        size_t split = 0;
        if ((control & kResetInside) && at < size) split = data[at++];
        size_t chunk = control & kChunkMask;
        if (chunk == 0) chunk = kMaxChunk;  // also whole reads of the widest size
        if (chunk > size - at) chunk = size - at;
        if (control & kResetBefore) receiver.ResetAssembly();
        if ((control & kResetInside) && chunk > 1) {
            split = 1 + split % (chunk - 1);
            receiver.Receive(data + at, split, now++, CheckFrame, nullptr);
            receiver.ResetAssembly();
            receiver.Receive(data + at + split, chunk - split, now++, CheckFrame, nullptr);
        } else {
            receiver.Receive(data + at, chunk, now++, CheckFrame, nullptr);
        }
        at += chunk;
        const ReceiveState state = receiver.ReceiveStateNow();
        Check(state >= ReceiveState::Hunting && state <= ReceiveState::Payload);
        const LinkState link = linkState.load();
        Check(link == LinkState::Idle || link == LinkState::Receiving);
    }
    return 0;
}
