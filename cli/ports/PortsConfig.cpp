// The configuration varnex ports --station-config prints (see PortsConfig.h).
#include "cli/ports/PortsConfig.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "serial/LineSpeeds.h"

namespace cli {

namespace {

constexpr const char* kFixtureName = "fixture ";

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// A TOML basic string: quotes and backslashes escaped, control characters as \uXXXX.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            size_t endA = i, endB = j;
            while (endA < a.size() && IsDigit(a[endA])) ++endA;
            while (endB < b.size() && IsDigit(b[endB])) ++endB;
            // Leading zeros aside, a longer run is a larger number.
            std::string numberA = a.substr(i, endA - i), numberB = b.substr(j, endB - j);
            numberA.erase(0, std::min(numberA.find_first_not_of('0'), numberA.size()));
            numberB.erase(0, std::min(numberB.find_first_not_of('0'), numberB.size()));
            if (numberA.size() != numberB.size()) return numberA.size() < numberB.size();
            if (numberA != numberB) return numberA < numberB;
            i = endA;
            j = endB;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::vector<ConfigPort> FixturesOf(const std::vector<serial::PortInfo>& ports) {
    std::vector<std::string> placed, others;
    for (const serial::PortInfo& port : ports) {
        if (!port.byPath.empty()) {
            placed.push_back(port.byPath.front());
        } else {
            others.push_back(port.byId.empty() ? port.name : port.byId.front());
        }
    }
    std::sort(placed.begin(), placed.end(), NaturalLess);
    std::sort(others.begin(), others.end(), NaturalLess);
    placed.insert(placed.end(), others.begin(), others.end());
    std::vector<ConfigPort> fixtures;
    for (const std::string& device : placed) {
        fixtures.push_back({kFixtureName + std::to_string(fixtures.size() + 1), device});
    }
    return fixtures;
}

std::string StationConfigText(const std::vector<ConfigPort>& fixtures) {
    std::ostringstream text;
    text << "# A loading station's setup: varnex station --config FILE. Written by\n"
            "# varnex ports --station-config from the ports found; rename the fixtures as the\n"
            "# line calls them and check the image and speed.\n"
            "# station = \"line3-bench2\"                      # default: the host's name\n"
         << "image = " << Quoted(kConfigSoftware) << "    # \"bootloader\", \"software\" or an image file\n"
         << "baud = " << serial::kFastDownloadBaud
         << "          # the speed chosen on the units: " << serial::kFastDownloadBaud << " or "
         << serial::kSlowDownloadBaud
         << "\n"
            "# records = \"/var/lib/varnex/line3-bench2.db\"  # default: varnex-records.db here\n";
    if (fixtures.empty())
        text << "\n# No serial port was found: add a [[port]] with a name and a device per fixture.\n";
    for (const ConfigPort& fixture : fixtures) {
        text << "\n[[port]]\nname = " << Quoted(fixture.name) << "\ndevice = " << Quoted(fixture.device) << "\n";
    }
    return text.str();
}

}  // namespace cli
