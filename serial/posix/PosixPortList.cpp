// The serial ports of a Linux machine, as a person recognises them: each tty that has a
// driver in /sys/class/tty, described by its driver and its /dev/serial/by-id names, plus
// the device paths listed in VARNEX_EXTRA_PORTS (pseudo-terminals of a simulated unit).
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "serial/PortList.h"

namespace serial {

namespace {

namespace fs = std::filesystem;

constexpr const char* kTtyClassDir = "/sys/class/tty";
constexpr const char* kByIdDir = "/dev/serial/by-id";
constexpr const char* kDevDir = "/dev";
// Colon-separated device paths listed besides the system's own ports.
constexpr const char* kExtraPortsVariable = "VARNEX_EXTRA_PORTS";
// The serial core's "type" attribute: 0 is a port slot with no UART behind it.
constexpr const char* kUnknownUartType = "0";
constexpr const char* kSerialCoreBus = "serial-base";
constexpr int kMaxSerialCoreLevels = 3;

std::string ReadFirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The by-id names of every device, keyed by the device's real path.
std::map<std::string, std::vector<std::string>> ByIdNames() {
    std::map<std::string, std::vector<std::string>> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(kByIdDir, error)) {
        fs::path target = fs::canonical(entry.path(), error);
        if (!error) names[target.string()].push_back(entry.path().filename().string());
    }
    for (auto& [path, list] : names) std::sort(list.begin(), list.end());
    return names;
}

std::string Describe(const std::string& driver, const std::vector<std::string>& byId) {
    std::string text = driver;
    for (const std::string& name : byId) text += (text.empty() ? "" : ", ") + name;
    return text;
}

// The driver a person knows the port by. Newer kernels put the serial core's own "port" and
// "ctrl" devices between the tty and the hardware; those are climbed over.
std::string DriverOf(const fs::path& ttyEntry) {
    std::error_code error;
    fs::path device = fs::canonical(ttyEntry / "device", error);
    if (error) return "";  // virtual consoles and ptys have no device
    for (int level = 0; level < kMaxSerialCoreLevels; ++level) {
        fs::path subsystem = fs::read_symlink(device / "subsystem", error);
        if (error || subsystem.filename() != kSerialCoreBus) break;
        device = device.parent_path();
    }
    fs::path driver = fs::read_symlink(device / "driver", error);
    return error ? "" : driver.filename().string();
}

void AddSystemPorts(std::vector<PortInfo>* ports, const std::map<std::string, std::vector<std::string>>& byId) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(kTtyClassDir, error)) {
        std::string driver = DriverOf(entry.path());
        if (driver.empty()) continue;
        std::error_code linkError;
        fs::path type = entry.path() / "type";
        if (fs::exists(type, linkError) && ReadFirstLine(type) == kUnknownUartType) continue;
        std::string device = (fs::path(kDevDir) / entry.path().filename()).string();
        if (!fs::exists(device, linkError)) continue;
        auto names = byId.find(device);
        ports->push_back({device, Describe(driver, names == byId.end() ? std::vector<std::string>{} : names->second)});
    }
}

void AddExtraPorts(std::vector<PortInfo>* ports) {
    const char* list = std::getenv(kExtraPortsVariable);
    if (list == nullptr) return;
    std::string text = list;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(':', start);
        if (end == std::string::npos) end = text.size();
        std::string path = text.substr(start, end - start);
        start = end + 1;
        std::error_code error;
        if (path.empty() || !fs::exists(path, error)) continue;
        fs::path target = fs::canonical(path, error);
        std::string description = "listed in " + std::string(kExtraPortsVariable);
        if (!error && target.string() != path) description += ", " + target.string();
        ports->push_back({path, description});
    }
}

}  // namespace

std::vector<PortInfo> ListSerialPorts() {
    std::vector<PortInfo> ports;
    AddSystemPorts(&ports, ByIdNames());
    AddExtraPorts(&ports);
    std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) { return a.name < b.name; });
    ports.erase(std::unique(ports.begin(), ports.end(),
                            [](const PortInfo& a, const PortInfo& b) { return a.name == b.name; }),
                ports.end());
    return ports;
}

bool RememberPort(const std::string& name, std::string* error) {
    *error = "remembering a port is for the Windows wizard only; here give " + name + " with --port";
    return false;
}

}  // namespace serial
