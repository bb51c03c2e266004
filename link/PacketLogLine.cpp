// Received-packet log line. The payload is printed up to its count or its first zero byte.
#include "link/PacketLogLine.h"

#include <cstdio>

#include "link/PacketSender.h"

namespace packetlink {

namespace {
constexpr size_t kNumbersPartSize = 160;  // the line up to the payload text, with room to spare
}  // namespace

std::string FormatPacketLine(const PacketRecord& record, const char* prefix) {
    char numbers[kNumbersPartSize];
    std::snprintf(numbers, sizeof numbers,
                  " Id=%u, Cmd=%u, cs=%u,%u, len=%u,  buf(%u)=", static_cast<unsigned>(record.id),
                  static_cast<unsigned>(record.command), static_cast<unsigned>(record.receivedChecksum),
                  static_cast<unsigned>(record.computedChecksum), static_cast<unsigned>(record.length),
                  static_cast<unsigned>(record.payloadCount));
    int shown = record.payloadCount;
    if (shown < 0) shown = 0;
    if (shown > static_cast<int>(kMaxPayload)) shown = static_cast<int>(kMaxPayload);
    return std::string(prefix ? prefix : "") + numbers + TextUpTo(record.payload, shown);
}

}  // namespace packetlink
