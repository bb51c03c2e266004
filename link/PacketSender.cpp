// Sender bookkeeping. The resend count belongs to one id: a request for the same id counts
// on (and, past the limit, gives up again each time); a request for another id starts over.
#include "link/PacketSender.h"

#include <cstdio>

namespace packetlink {

namespace {
// The resend count at which a request gives up: counts 0 .. kMaxResends - 1 go out.
constexpr int kGiveUpCount = kMaxResends;
constexpr size_t kNumbersPartSize = 160;  // the line up to the payload text, with room to spare
}  // namespace

const PacketHeader& PacketSender::BeginNewPacket(uint16_t command, const uint8_t* payload, uint16_t length) {
    ++idCounter_;  // unsigned 16-bit: wraps from 65 535 to 0
    header_ = MakeHeader(command, idCounter_, payload, length);
    resendFlag_ = 0;
    if (length > 0) payloadCopy_.assign(payload, payload + length);
    return header_;
}

ResendDecision PacketSender::RequestResend(ResendCause cause) {
    if (header_.id == resendId_) {
        ++resendCount_;
        if (resendCount_ >= kGiveUpCount) {
            resendCount_ = kGiveUpCount;  // stays at the limit: every later request gives up
            return ResendDecision::GiveUp;
        }
    } else {
        resendCount_ = 0;
        resendId_ = header_.id;
    }
    resendCause_ = cause;
    resendFlag_ = 1;
    return ResendDecision::Resend;
}

std::string TextUpTo(const uint8_t* text, int count) {
    std::string out;
    for (int i = 0; i < count && text && text[i] != 0; ++i) out.push_back(static_cast<char>(text[i]));
    return out;
}

std::string PacketSender::LastCommandLine() const {
    char numbers[kNumbersPartSize];
    std::snprintf(numbers, sizeof numbers,
                  "LAST COMMAND: Resend=%u, Id=%u, Cmd=%u, cs=%u, buf(%u)=", static_cast<unsigned>(resendFlag_),
                  static_cast<unsigned>(header_.id), static_cast<unsigned>(header_.command),
                  static_cast<unsigned>(header_.checksum), static_cast<unsigned>(header_.length));
    const int shown = payloadCopy_.empty() ? 0 : static_cast<int>(header_.length);
    return std::string(numbers) + TextUpTo(payloadCopy_.data(), shown) + ", cause=" + ResendCauseName(resendCause_);
}

}  // namespace packetlink
