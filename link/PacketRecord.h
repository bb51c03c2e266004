// One received frame: the receiver's working state and, copied, the record posted to the
// dialog for each complete frame.
#pragma once
#include <atomic>
#include <cstdint>

#include "link/Frame.h"

struct PacketRecord {
    uint16_t receivedChecksum;
    uint16_t length;
    uint16_t command;
    uint16_t id;
    uint16_t computedChecksum;
    int receiveState;    // 0 hunting, 1 second mark, 2 header, 3 payload (working instance)
    int headerCount;     // header bytes collected, 0..8 (working instance)
    uint8_t payload[kMaxPayload + 1];  // room for a zero after a full payload
    int payloadCount;
};
