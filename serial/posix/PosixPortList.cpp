// The serial ports of a Linux machine, as a person recognises them: each tty that has a
// driver in /sys/class/tty, described by its driver, with the stable names udev gives it in
// /dev/serial/by-path and /dev/serial/by-id, plus the device paths listed in
// VARNEX_EXTRA_PORTS (pseudo-terminals of a simulated unit).
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
constexpr const char* kByPathDir = "/dev/serial/by-path";
constexpr const char* kDevDir = "/dev";
// A folder that stands for / when the system's folders are read (tests build a tree there).
constexpr const char* kSystemRootVariable = "VARNEX_SYSTEM_ROOT";
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

std::string SystemRoot() {
    const char* root = std::getenv(kSystemRootVariable);
    return root == nullptr ? "" : root;
}

using StableNames = std::map<std::string, std::vector<std::string>>;

// The links of one of udev's folders (by-id, by-path), keyed by the real path of the device
// each leads to; each link as a path under the root.
StableNames LinksIn(const std::string& folder) {
    StableNames names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::error_code linkError;
        fs::path target = fs::canonical(entry.path(), linkError);
        if (!linkError) names[target.string()].push_back(entry.path().string());
    }
    for (auto& [path, list] : names) std::sort(list.begin(), list.end());
    return names;
}

std::vector<std::string> NamesOf(const StableNames& names, const std::string& device) {
    std::error_code error;
    fs::path real = fs::canonical(device, error);
    auto found = names.find(error ? device : real.string());
    return found == names.end() ? std::vector<std::string>{} : found->second;
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

void AddSystemPorts(const std::string& root, std::vector<PortInfo>* ports) {
    const StableNames byId = LinksIn(root + kByIdDir);
    const StableNames byPath = LinksIn(root + kByPathDir);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(root + kTtyClassDir, error)) {
        std::string driver = DriverOf(entry.path());
        if (driver.empty()) continue;
        std::error_code linkError;
        fs::path type = entry.path() / "type";
        if (fs::exists(type, linkError) && ReadFirstLine(type) == kUnknownUartType) continue;
        std::string device = (fs::path(root + kDevDir) / entry.path().filename()).string();
        if (!fs::exists(device, linkError)) continue;
        ports->push_back({device, driver, NamesOf(byPath, device), NamesOf(byId, device)});
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
        ports->push_back({path, description, {}, {}});
    }
}

}  // namespace

std::vector<PortInfo> ListSerialPorts() {
    std::vector<PortInfo> ports;
    AddSystemPorts(SystemRoot(), &ports);
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
