// Network port names taken apart (see NetworkPortName.h).
#include "serial/NetworkPortName.h"

#include <cstdint>

namespace serial {

namespace {

constexpr char kRfc2217Prefix[] = "rfc2217://";
constexpr char kRawPrefix[] = "socket://";
constexpr uint32_t kMaxTcpPort = 65535;
constexpr size_t kMaxPortDigits = 5;

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool ValidTcpPort(const std::string& port) {
    if (port.empty() || port.size() > kMaxPortDigits) return false;
    uint32_t value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value >= 1 && value <= kMaxTcpPort;
}

}  // namespace

bool IsNetworkPortName(const std::string& name) {
    return StartsWith(name, kRfc2217Prefix) || StartsWith(name, kRawPrefix);
}

bool IsRawNetworkPortName(const std::string& name) {
    NetworkPortAddress address;
    std::string error;
    return ParseNetworkPortName(name, &address, &error) && address.kind == NetworkPortKind::Raw;
}

bool ParseNetworkPortName(const std::string& name, NetworkPortAddress* address, std::string* error) {
    const bool rfc2217 = StartsWith(name, kRfc2217Prefix);
    if (!rfc2217 && !StartsWith(name, kRawPrefix)) {
        *error = "not a network port name (rfc2217://HOST:PORT or socket://HOST:PORT)";
        return false;
    }
    const std::string rest = name.substr(rfc2217 ? sizeof kRfc2217Prefix - 1 : sizeof kRawPrefix - 1);
    const std::string form = rfc2217 ? "rfc2217://HOST:PORT" : "socket://HOST:PORT";
    std::string host;
    std::string port;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            *error = name + ": an IPv6 address is written [ADDRESS]:PORT";
            return false;
        }
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
    } else {
        const size_t colon = rest.find(':');
        if (colon == std::string::npos || rest.find(':', colon + 1) != std::string::npos) {
            *error = name + ": expected " + form + " (an IPv6 address in brackets)";
            return false;
        }
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    if (host.empty() || host.find_first_of("/ []") != std::string::npos) {
        *error = name + ": no valid HOST in " + form;
        return false;
    }
    if (!ValidTcpPort(port)) {
        *error = name + ": PORT must be a number from 1 to 65535";
        return false;
    }
    *address = {rfc2217 ? NetworkPortKind::Rfc2217 : NetworkPortKind::Raw, host, port};
    return true;
}

}  // namespace serial
