// Reads the --http address and checks Host headers against it (see Listen.h). Addresses are
// told apart by their form alone, so nothing here asks the system or a name server.
#include "web/Listen.h"

#include <algorithm>
#include <cctype>

namespace web {

namespace {

constexpr uint32_t kMaxPort = 65535;
constexpr uint16_t kHttpPort = 80;
constexpr size_t kMaxNameChars = 253;  // a DNS name's longest
constexpr size_t kIpv4Parts = 4;
constexpr int kIpv4PartMax = 255;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool AllDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool ParsePort(const std::string& text, uint32_t* port) {
    if (!AllDigits(text) || text.size() > 5) return false;
    *port = static_cast<uint32_t>(std::stoul(text));
    return *port <= kMaxPort;
}

bool IsIpv4(const std::string& text) {
    size_t parts = 0;
    size_t start = 0;
    while (true) {
        const size_t dot = text.find('.', start);
        const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!AllDigits(part) || part.size() > 3 || std::stoi(part) > kIpv4PartMax) return false;
        ++parts;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return parts == kIpv4Parts;
}

// Hex digits and colons with at least two colons, an IPv4 tail allowed: no name has that form.
bool IsIpv6(const std::string& text) {
    if (std::count(text.begin(), text.end(), ':') < 2) return false;
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isxdigit(c) != 0 || c == ':' || c == '.'; });
}

// A host name as RFC 1123 has them: letters, digits, hyphens and dots.
bool IsName(const std::string& text) {
    if (text.empty() || text.size() > kMaxNameChars || text.front() == '.' || text.front() == '-') return false;
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0 || c == '-' || c == '.'; });
}

}  // namespace

bool ParseListenAddress(const std::string& text, ListenAddress* address, std::string* error) {
    const std::string usage = "--http " + text + ": give a port (8417) or an address and a port (0.0.0.0:8417)";
    ListenAddress parsed;
    std::string host;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find("]:");
        if (close == std::string::npos) return *error = usage, false;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
        if (!IsIpv6(host)) return *error = "--http " + text + ": " + host + " is not an IPv6 address", false;
        parsed.ipv6 = true;
    } else {
        const size_t colon = text.rfind(':');
        if (colon != std::string::npos) {
            host = text.substr(0, colon);
            port = text.substr(colon + 1);
            if (host.find(':') != std::string::npos)
                return *error = "--http " + text + ": write an IPv6 address in brackets ([::1]:8417)", false;
            if (!IsIpv4(host) && !IsName(host))
                return *error = "--http " + text + ": " + host + " is neither an address nor a host name", false;
        } else {
            host = kDefaultAddress;
            port = text;
        }
    }
    uint32_t number = 0;
    if (!ParsePort(port, &number)) return *error = usage, false;
    parsed.host = host;
    parsed.port = static_cast<uint16_t>(number);
    *address = parsed;
    return true;
}

std::string ListeningSpec(const ListenAddress& address) {
    const std::string host = address.ipv6 ? "[" + address.host + "]" : address.host;
    return host + ":" + std::to_string(address.port);
}

std::string UrlToOpen(const ListenAddress& address, uint16_t port, const std::string& machineName) {
    std::string host = address.host;
    if (host == kAnyAddress || host == "::") {
        host = machineName;
    } else if (address.ipv6) {
        host = "[" + host + "]";
    }
    return "http://" + host + ":" + std::to_string(port) + "/";
}

HostCheck::HostCheck(const ListenAddress& address, uint16_t port, std::vector<std::string> machineNames)
    : port_(port), names_(std::move(machineNames)) {
    names_.push_back("localhost");
    if (IsName(address.host)) names_.push_back(address.host);
    for (std::string& name : names_) name = Lower(name);
}

bool HostCheck::Allows(const std::string& hostHeader) const {
    std::string host = Lower(hostHeader);
    uint32_t port = kHttpPort;
    const size_t close = host.rfind(']');
    const size_t colon = host.rfind(':');
    if (colon != std::string::npos && (close == std::string::npos || colon > close)) {
        if (!ParsePort(host.substr(colon + 1), &port)) return false;
        host.erase(colon);
    }
    if (port != port_) return false;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') return IsIpv6(host.substr(1, host.size() - 2));
    if (IsIpv4(host)) return true;
    if (!host.empty() && host.back() == '.') host.pop_back();  // the root's dot: the same name
    return std::find(names_.begin(), names_.end(), host) != names_.end();
}

}  // namespace web
