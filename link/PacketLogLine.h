// The line that describes a received packet: "<prefix> Id=.., Cmd=.., cs=recv,computed,
// len=..,  buf(n)=<payload as text>". Built from the posted record only.
#pragma once
#include <string>

#include "link/PacketRecord.h"

namespace packetlink {

std::string FormatPacketLine(const PacketRecord& record, const char* prefix);

}  // namespace packetlink
