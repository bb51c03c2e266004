// Where the web board listens ("[ADDR:]PORT" as the command line gives it), the address a
// technician opens, and which Host headers a request may carry: a page of another name that
// resolves to the station (DNS rebinding) is refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace web {

inline constexpr const char* kDefaultAddress = "127.0.0.1";
inline constexpr const char* kAnyAddress = "0.0.0.0";

struct ListenAddress {
    std::string host;   // an IPv4 or IPv6 address (no brackets) or a name; kDefaultAddress if none was given
    uint16_t port = 0;  // 0: any free port, said on start
    bool ipv6 = false;  // host is an IPv6 address
};

// Reads "8417", "0.0.0.0:8417", "[::1]:8417" or "station7.local:8417"; false with *error in
// the technician's words otherwise.
bool ParseListenAddress(const std::string& text, ListenAddress* address, std::string* error);

// The address in civetweb's listening form ("127.0.0.1:8417", "[::1]:8417").
std::string ListeningSpec(const ListenAddress& address);

// The address to open in a browser: the machine's name when listening on every address.
std::string UrlToOpen(const ListenAddress& address, uint16_t port, const std::string& machineName);

// Which Host headers name this station: any IP address literal (no name to rebind), localhost,
// the name listened on, and the machine's own names (the front-end knows them); each with the
// port served, or without a port when that is 80.
class HostCheck {
public:
    HostCheck(const ListenAddress& address, uint16_t port, std::vector<std::string> machineNames);
    bool Allows(const std::string& hostHeader) const;

private:
    uint16_t port_;
    std::vector<std::string> names_;  // lower case
};

}  // namespace web
