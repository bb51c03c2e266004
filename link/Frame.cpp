// Building frames for the wire: the checksum covers the six bytes of length, command and id
// as they go out, then every payload byte; the marks and the checksum field do not count.
#include "link/Frame.h"

#include <cstring>

namespace packetlink {

namespace {

constexpr unsigned kByteBits = 8;
constexpr unsigned kLowByteMask = 0xFFu;

// Adds a 16-bit field as its two wire bytes.
uint16_t AddLittleEndian(uint16_t sum, uint16_t value) {
    return static_cast<uint16_t>(sum + (value & kLowByteMask) + (value >> kByteBits));
}

}  // namespace

uint16_t FrameChecksum(uint16_t length, uint16_t command, uint16_t id, const uint8_t* payload, size_t payloadLength) {
    uint16_t sum = 0;
    sum = AddLittleEndian(sum, length);
    sum = AddLittleEndian(sum, command);
    sum = AddLittleEndian(sum, id);
    for (size_t i = 0; i < payloadLength; ++i) sum = static_cast<uint16_t>(sum + payload[i]);
    return sum;
}

PacketHeader MakeHeader(uint16_t command, uint16_t id, const uint8_t* payload, uint16_t length) {
    PacketHeader header{};
    header.mark1 = kFrameMark;
    header.mark2 = kFrameMark;
    header.length = length;
    header.command = command;
    header.id = id;
    header.checksum = FrameChecksum(length, command, id, payload, length);
    return header;
}

std::vector<uint8_t> FrameBytes(const PacketHeader& header, const uint8_t* payload) {
    std::vector<uint8_t> frame(kHeaderSize + header.length);
    std::memcpy(frame.data(), &header, kHeaderSize);
    if (header.length > 0) std::memcpy(frame.data() + kHeaderSize, payload, header.length);
    return frame;
}

std::vector<uint8_t> EncodeFrame(uint16_t command, uint16_t id, const uint8_t* payload, uint16_t length) {
    return FrameBytes(MakeHeader(command, id, payload, length), payload);
}

}  // namespace packetlink
