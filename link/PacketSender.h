// The sender's bookkeeping, apart from the port: framing each new packet with the next id,
// keeping it for resends, counting resends of one id up to the give-up, and the line that
// describes the last packet sent. UI thread only.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "link/Frame.h"
#include "link/LinkState.h"

namespace packetlink {

// A packet goes out once as new and at most this many times again before the give-up.
inline constexpr int kMaxResends = 6;

enum class ResendDecision { Resend, GiveUp };

class PacketSender {
public:
    // Frames a new packet: next id (first 1, wraps to 0), checksum, resend flag 0. A
    // payload of length 0 leaves the kept copy as it was.
    const PacketHeader& BeginNewPacket(uint16_t command, const uint8_t* payload, uint16_t length);
    // Counts a resend request for the packet last framed; on Resend the flag and cause are
    // set and the same header and payload copy go out again.
    ResendDecision RequestResend(ResendCause cause);
    void MarkSent(uint32_t now) {
        lastSendTick_ = now;
        ++sendCount_;
    }

    const PacketHeader& Header() const { return header_; }
    // The payload bytes that go out with Header(): empty when its length is 0.
    const uint8_t* PayloadCopy() const { return payloadCopy_.data(); }
    uint32_t LastSendTick() const { return lastSendTick_; }
    // Sends and resends so far; tells whether handling a frame put a packet on the line.
    uint32_t SendCount() const { return sendCount_; }

    // "LAST COMMAND: Resend=..., Id=..., Cmd=..., cs=..., buf(n)=..., cause=..."
    std::string LastCommandLine() const;

private:
    PacketHeader header_{};
    std::vector<uint8_t> payloadCopy_;
    uint16_t idCounter_ = 0;
    int resendFlag_ = 0;
    ResendCause resendCause_ = ResendCause::None;
    uint32_t lastSendTick_ = 0;
    uint16_t resendId_ = 0;
    int resendCount_ = 0;
    uint32_t sendCount_ = 0;
};

// Up to count characters of text, stopping at a zero byte, as "%.*s" prints them.
std::string TextUpTo(const uint8_t* text, int count);

}  // namespace packetlink
