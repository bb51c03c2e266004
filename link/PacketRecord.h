// One received frame as posted to the dialog: both checksums, the header fields, the
// payload (with room for a terminating zero after a full 512 bytes) and its count.
#pragma once
#include <cstdint>

#include "link/Frame.h"

namespace packetlink {

struct PacketRecord {
    uint16_t receivedChecksum;
    uint16_t length;
    uint16_t command;
    uint16_t id;
    uint16_t computedChecksum;
    uint8_t payload[kMaxPayload + 1];  // room for a zero after a full payload
    int payloadCount;                  // equals length in every posted record
};

}  // namespace packetlink
