// Frame assembly, one byte at a time. Every state change goes through an exchange on the
// receive state, so a reset from the UI thread always wins: the bytes already taken are
// dropped, and the payload position is bounded by the length checked against the capacity.
#include "link/PacketReceiver.h"

namespace packetlink {

namespace {

uint16_t LittleEndianAt(const uint8_t* bytes, int offset) {
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

// Offsets of the fields within the 8 header bytes that follow the marks.
constexpr int kChecksumOffset = 0;
constexpr int kLengthOffset = 2;
constexpr int kCommandOffset = 4;
constexpr int kIdOffset = 6;

}  // namespace

void PacketReceiver::Receive(const uint8_t* bytes, size_t count, uint32_t now, FrameSink sink, void* context) {
    // The tick first: the timer step reads the state first, so whenever it sees "receiving"
    // it also sees the tick of these bytes, never the tick of an old frame.
    lastByteTick_.store(now);
    linkState_.store(LinkState::Receiving);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        const ReceiveState state = receiveState_.load();
        switch (state) {
            case ReceiveState::Hunting:
                if (byte == kFrameMark) Advance(ReceiveState::Hunting, ReceiveState::SecondMark);
                break;
            case ReceiveState::SecondMark:
                if (byte == kFrameMark) {
                    headerCount_ = 0;
                    Advance(ReceiveState::SecondMark, ReceiveState::Header);
                } else {
                    // Noise that merely looked like a mark. The link stays "receiving": were
                    // it set idle here, a packet still awaiting its reply would no longer be
                    // timed, and a lost reply would stall the transfer for good.
                    Advance(ReceiveState::SecondMark, ReceiveState::Hunting);
                }
                break;
            case ReceiveState::Header:
                if (headerCount_ >= kHeaderFieldBytes) {  // cannot happen; never write past
                    Advance(ReceiveState::Header, ReceiveState::Hunting);
                    break;
                }
                headerBytes_[headerCount_++] = byte;
                if (headerCount_ < kHeaderFieldBytes) break;
                work_.receivedChecksum = LittleEndianAt(headerBytes_, kChecksumOffset);
                work_.length = LittleEndianAt(headerBytes_, kLengthOffset);
                work_.command = LittleEndianAt(headerBytes_, kCommandOffset);
                work_.id = LittleEndianAt(headerBytes_, kIdOffset);
                work_.computedChecksum = 0;
                for (int b = kLengthOffset; b < kHeaderFieldBytes; ++b) {
                    work_.computedChecksum = static_cast<uint16_t>(work_.computedChecksum + headerBytes_[b]);
                }
                work_.payloadCount = 0;
                if (work_.length > kMaxPayload) {
                    // More than a record holds: drop the frame and hunt again. The link stays
                    // "receiving", so a pending packet is still resent after the byte timeout.
                    Advance(ReceiveState::Header, ReceiveState::Hunting);
                } else if (work_.length == 0) {
                    if (Advance(ReceiveState::Header, ReceiveState::Hunting)) CompleteFrame(sink, context);
                } else {
                    Advance(ReceiveState::Header, ReceiveState::Payload);
                }
                break;
            case ReceiveState::Payload:
                if (work_.payloadCount >= work_.length ||
                    work_.payloadCount >= static_cast<int>(kMaxPayload)) {  // cannot happen
                    Advance(ReceiveState::Payload, ReceiveState::Hunting);
                    break;
                }
                work_.payload[work_.payloadCount++] = byte;
                work_.computedChecksum = static_cast<uint16_t>(work_.computedChecksum + byte);
                if (work_.payloadCount == work_.length && Advance(ReceiveState::Payload, ReceiveState::Hunting)) {
                    CompleteFrame(sink, context);
                }
                break;
            default: receiveState_.store(ReceiveState::Hunting); break;
        }
    }
}

void PacketReceiver::CompleteFrame(FrameSink sink, void* context) {
    linkState_.store(LinkState::Idle);
    // Handlers read some payloads as text; the terminator is always in place for them.
    work_.payload[work_.payloadCount] = 0;
    if (sink) sink(work_, context);
}

}  // namespace packetlink
