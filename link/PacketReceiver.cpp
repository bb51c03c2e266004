// Frame assembly, one byte at a time. Every state change goes through an exchange on the
// receive state, so a reset from the UI thread always wins: the bytes already taken are
// dropped, and the payload position is bounded by the length checked against the capacity.
#include "link/PacketReceiver.h"

#include "link/LinkState.h"

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
    linkState_.store(LINK_RECEIVING);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        const int state = receiveState_.load();
        switch (state) {
            case RECEIVE_HUNTING:
                if (byte == kFrameMark) Advance(RECEIVE_HUNTING, RECEIVE_SECOND_MARK);
                break;
            case RECEIVE_SECOND_MARK:
                if (byte == kFrameMark) {
                    headerCount_ = 0;
                    Advance(RECEIVE_SECOND_MARK, RECEIVE_HEADER);
                } else {
                    // Noise that merely looked like a mark. The link stays "receiving": were
                    // it set idle here, a packet still awaiting its reply would no longer be
                    // timed, and a lost reply would stall the transfer for good.
                    Advance(RECEIVE_SECOND_MARK, RECEIVE_HUNTING);
                }
                break;
            case RECEIVE_HEADER:
                if (headerCount_ >= kHeaderFieldBytes) {  // cannot happen; never write past
                    Advance(RECEIVE_HEADER, RECEIVE_HUNTING);
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
                    Advance(RECEIVE_HEADER, RECEIVE_HUNTING);
                } else if (work_.length == 0) {
                    if (Advance(RECEIVE_HEADER, RECEIVE_HUNTING)) CompleteFrame(sink, context);
                } else {
                    Advance(RECEIVE_HEADER, RECEIVE_PAYLOAD);
                }
                break;
            case RECEIVE_PAYLOAD:
                if (work_.payloadCount >= work_.length ||
                    work_.payloadCount >= static_cast<int>(kMaxPayload)) {  // cannot happen
                    Advance(RECEIVE_PAYLOAD, RECEIVE_HUNTING);
                    break;
                }
                work_.payload[work_.payloadCount++] = byte;
                work_.computedChecksum = static_cast<uint16_t>(work_.computedChecksum + byte);
                if (work_.payloadCount == work_.length && Advance(RECEIVE_PAYLOAD, RECEIVE_HUNTING)) {
                    CompleteFrame(sink, context);
                }
                break;
            default: receiveState_.store(RECEIVE_HUNTING); break;
        }
    }
}

void PacketReceiver::CompleteFrame(FrameSink sink, void* context) {
    linkState_.store(LINK_IDLE);
    // Handlers read some payloads as text; the terminator is always in place for them.
    work_.payload[work_.payloadCount] = 0;
    if (sink) sink(work_, context);
}
