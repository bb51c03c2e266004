// The names of ports on network serial servers: "rfc2217://HOST:PORT" (a server that takes
// the line settings and tells the modem lines) and "socket://HOST:PORT" (a raw TCP port whose
// settings are fixed on the server). HOST is a name, an IPv4 address or [an IPv6 address].
#pragma once

#include <string>

namespace serial {

enum class NetworkPortKind { Rfc2217, Raw };

struct NetworkPortAddress {
    NetworkPortKind kind = NetworkPortKind::Rfc2217;
    std::string host;  // without the brackets of an IPv6 address
    std::string port;  // decimal, 1 to 65535
};

// True when the name asks for a network port (its form may still be wrong).
bool IsNetworkPortName(const std::string& name);
// True for a well-formed socket:// name: a port without CTS.
bool IsRawNetworkPortName(const std::string& name);
// Takes the name apart; false with *error saying what is wrong with it.
bool ParseNetworkPortName(const std::string& name, NetworkPortAddress* address, std::string* error);

}  // namespace serial
