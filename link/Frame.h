// The frame on the wire: two 0x7E marks, then checksum, length, command and id as
// little-endian 16-bit fields, then the payload. No end mark, no escaping.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace packetlink {

inline constexpr uint8_t kFrameMark = 0x7E;
inline constexpr size_t kHeaderSize = 10;
inline constexpr size_t kMaxPayload = 512;

// The 10 header bytes in wire order (x86 is little-endian, as the wire is).
#pragma pack(push, 1)
struct PacketHeader {
    uint8_t mark1;
    uint8_t mark2;
    uint16_t checksum;
    uint16_t length;
    uint16_t command;
    uint16_t id;
};
#pragma pack(pop)
static_assert(sizeof(PacketHeader) == kHeaderSize, "header is 10 bytes on the wire");

// Sum modulo 65 536 of the six bytes of length, command and id and of every payload byte.
uint16_t FrameChecksum(uint16_t length, uint16_t command, uint16_t id, const uint8_t* payload, size_t payloadLength);
PacketHeader MakeHeader(uint16_t command, uint16_t id, const uint8_t* payload, uint16_t length);
// The frame's bytes as they go out: the header, then its length of payload bytes.
std::vector<uint8_t> FrameBytes(const PacketHeader& header, const uint8_t* payload);
std::vector<uint8_t> EncodeFrame(uint16_t command, uint16_t id, const uint8_t* payload, uint16_t length);

}  // namespace packetlink
