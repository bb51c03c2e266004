// A station's configuration file, read with toml++ (header-only, without exceptions: a syntax
// error comes back as a value with its place). Every key of the file is looked at once: a key
// this reader does not know is an error, never skipped, so a misspelt key cannot leave a
// station running on a default the operator thought was changed.
#include "cli/station/StationConfig.h"

#define TOML_EXCEPTIONS 0
#define TOML_HEADER_ONLY 1
#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <initializer_list>
#include <map>
#include <memory>
#include <sstream>

#include "common/ErrnoText.h"
#include "serial/LineSpeeds.h"
#include "serial/NetworkPortName.h"
#include "station/ScanPairing.h"
#include "web/Listen.h"

namespace cli {

namespace {

constexpr const char* kPortKey = "port";
constexpr const char* kNameKey = "name";
constexpr const char* kDeviceKey = "device";
constexpr int64_t kMaxTcpPort = 65535;
constexpr std::initializer_list<uint32_t> kScannerSpeeds = {9600, 19200, 38400, 57600, 115200};

// Where a message points: the file, a line and a column (both from 1).
struct Place {
    uint32_t line = 0;
    uint32_t column = 0;
};

Place PlaceOf(const toml::source_region& source) { return {source.begin.line, source.begin.column}; }

const char* TypeName(toml::node_type type) {
    switch (type) {
        case toml::node_type::string: return "a string";
        case toml::node_type::integer: return "an integer";
        case toml::node_type::floating_point: return "a floating-point number";
        case toml::node_type::boolean: return "true or false";
        case toml::node_type::table: return "a table";
        case toml::node_type::array: return "an array";
        case toml::node_type::date: return "a date";
        case toml::node_type::time: return "a time";
        case toml::node_type::date_time: return "a date and time";
        case toml::node_type::none: break;
    }
    return "nothing";
}

// A path in the file is taken from the file's own folder, so the file means the same from
// wherever the station is started.
bool IsAbsolutePath(const std::string& path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
    return path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

std::string FromFolderOf(const std::string& file, const std::string& path) {
    if (IsAbsolutePath(path)) return path;
    const size_t slash = file.find_last_of("/\\");
    if (slash == std::string::npos) return path;
    return file.substr(0, slash + 1) + path;
}

class Reader {
public:
    Reader(const std::string& path, StationConfig* config) : path_(path), config_(config) {}

    bool Read(const toml::table& root) {
        for (auto&& [key, node] : root) {
            if (!ReadTopKey(std::string(key.str()), key.source(), node)) return false;
        }
        return true;
    }

    const std::string& Error() const { return error_; }

private:
    bool ReadTopKey(const std::string& key, const toml::source_region& keySource, const toml::node& node) {
        if (key == "station") return Text(key, node, &config_->station);
        if (key == "image") {
            if (!Text(key, node, &config_->image)) return false;
            if (*config_->image != kConfigBootloader && *config_->image != kConfigSoftware)
                config_->image = FromFolderOf(path_, *config_->image);
            return true;
        }
        if (key == "any_size") return Flag(key, node, &config_->anySize);
        if (key == "baud") return Baud(key, node);
        if (key == "records") return Path(key, node, &config_->records);
        if (key == "no_records") return Flag(key, node, &config_->noRecords);
        if (key == "count") return Count(key, node);
        if (key == "stop_on_failure") return Flag(key, node, &config_->stopOnFailure);
        if (key == "json") return Flag(key, node, &config_->json);
        if (key == "http") return Http(key, node);
        if (key == "http_token_file") return Path(key, node, &config_->httpTokenFile);
        if (key == "forward") return Text(key, node, &config_->forward);
        if (key == kPortKey) return Ports(node);
        if (key == "scanner") return Text(key, node, &config_->scanner);
        if (key == "require_serial") return Flag(key, node, &config_->requireSerial);
        if (key == "serial_pattern") return Pattern(key, node);
        if (key == "reload") return Choice(key, node, {"allow", "warn", "refuse"}, &config_->reload);
        if (key == "scanner_baud") return Range(key, node, kScannerSpeeds, &config_->scannerBaud);
        if (key == "scanner_data_bits") return Range(key, node, {5, 6, 7, 8}, &config_->scannerDataBits);
        if (key == "scanner_parity") return Choice(key, node, {"none", "odd", "even"}, &config_->scannerParity);
        if (key == "scanner_stop_bits") return Range(key, node, {1, 2}, &config_->scannerStopBits);
        return Fail(PlaceOf(keySource), key,
                    "unknown key; a station's keys are station, image, any_size, baud, records, no_records, count, "
                    "stop_on_failure, json, http, http_token_file, forward, scanner, require_serial, serial_pattern, "
                    "reload, scanner_baud, scanner_data_bits, scanner_parity, scanner_stop_bits and [[port]]");
    }

    // One of the values given, as a string.
    bool Choice(const std::string& key, const toml::node& node, std::initializer_list<const char*> values,
                std::optional<std::string>* out) {
        if (!Text(key, node, out)) return false;
        std::string listed;
        for (const char* value : values) {
            if (**out == value) return true;
            listed += (listed.empty() ? "\"" : ", \"") + std::string(value) + "\"";
        }
        return Fail(PlaceOf(node.source()), key, "expected one of " + listed + ", found \"" + **out + "\"");
    }

    // One of the numbers given.
    bool Range(const std::string& key, const toml::node& node, std::initializer_list<uint32_t> values,
               std::optional<uint32_t>* out) {
        const toml::value<int64_t>* number = node.as_integer();
        if (number == nullptr) return WrongType(key, node, "an integer");
        std::string listed;
        for (uint32_t value : values) {
            if (number->get() == value) {
                *out = value;
                return true;
            }
            listed += (listed.empty() ? "" : ", ") + std::to_string(value);
        }
        return Fail(PlaceOf(node.source()), key,
                    "expected one of " + listed + ", found " + std::to_string(number->get()));
    }

    bool Pattern(const std::string& key, const toml::node& node) {
        if (!Text(key, node, &config_->serialPattern)) return false;
        std::unique_ptr<station::CodeCheck> check;
        std::string why;
        if (!station::CodeCheck::Make(*config_->serialPattern, &check, &why)) {
            return Fail(PlaceOf(node.source()), key, why);
        }
        return true;
    }

    bool Fail(Place place, const std::string& key, const std::string& what) {
        error_ =
            path_ + ":" + std::to_string(place.line) + ":" + std::to_string(place.column) + ": " + key + ": " + what;
        return false;
    }

    bool WrongType(const std::string& key, const toml::node& node, const char* expected) {
        return Fail(PlaceOf(node.source()), key,
                    std::string("expected ") + expected + ", found " + TypeName(node.type()));
    }

    bool Text(const std::string& key, const toml::node& node, std::optional<std::string>* out) {
        const toml::value<std::string>* text = node.as_string();
        if (text == nullptr) return WrongType(key, node, "a string");
        if (text->get().empty()) return Fail(PlaceOf(node.source()), key, "expected a string that is not empty");
        *out = text->get();
        return true;
    }

    bool Path(const std::string& key, const toml::node& node, std::optional<std::string>* out) {
        if (!Text(key, node, out)) return false;
        *out = FromFolderOf(path_, **out);
        return true;
    }

    bool Flag(const std::string& key, const toml::node& node, std::optional<bool>* out) {
        const toml::value<bool>* flag = node.as_boolean();
        if (flag == nullptr) return WrongType(key, node, "true or false");
        *out = flag->get();
        return true;
    }

    bool Baud(const std::string& key, const toml::node& node) {
        const toml::value<int64_t>* number = node.as_integer();
        if (number == nullptr) return WrongType(key, node, "an integer");
        std::string speeds;
        for (uint32_t speed : serial::kDownloadBauds) {
            if (number->get() == speed) {
                config_->baud = speed;
                return true;
            }
            speeds += (speeds.empty() ? "" : " or ") + std::to_string(speed);
        }
        return Fail(PlaceOf(node.source()), key,
                    "expected " + speeds + " (the speed chosen on the unit), found " + std::to_string(number->get()));
    }

    bool Count(const std::string& key, const toml::node& node) {
        const toml::value<int64_t>* number = node.as_integer();
        if (number == nullptr) return WrongType(key, node, "an integer");
        constexpr int64_t kMost = std::numeric_limits<uint32_t>::max();
        if (number->get() < 1 || number->get() > kMost) {
            return Fail(PlaceOf(node.source()), key,
                        "expected a number of units from 1 to " + std::to_string(kMost) + ", found " +
                            std::to_string(number->get()));
        }
        config_->count = static_cast<uint32_t>(number->get());
        return true;
    }

    // [ADDR:]PORT, read as the web board's option reads it; a service needs a port of its own.
    bool Http(const std::string& key, const toml::node& node) {
        if (!Text(key, node, &config_->http)) return false;
        const std::string& value = *config_->http;
        web::ListenAddress address;
        std::string why;
        if (!web::ParseListenAddress(value, &address, &why) || address.port == 0) {
            return Fail(PlaceOf(node.source()), key,
                        "expected [ADDRESS:]PORT with a port from 1 to " + std::to_string(kMaxTcpPort) + ", found \"" +
                            value + "\"");
        }
        return true;
    }

    bool Ports(const toml::node& node) {
        const toml::array* array = node.as_array();
        if (array == nullptr) return WrongType(kPortKey, node, "[[port]] tables");
        if (array->empty()) return Fail(PlaceOf(node.source()), kPortKey, "expected at least one [[port]]");
        std::vector<ConfigPort> ports;
        std::map<std::string, Place> names, devices;
        for (const toml::node& element : *array) {
            const toml::table* table = element.as_table();
            if (table == nullptr) return WrongType(kPortKey, element, "a table with name and device");
            ConfigPort port;
            Place namePlace, devicePlace;
            for (auto&& [key, value] : *table) {
                const std::string name = std::string(kPortKey) + "." + std::string(key.str());
                std::optional<std::string> text;
                if (key.str() == kNameKey) {
                    if (!Text(name, value, &text)) return false;
                    port.name = *text;
                    namePlace = PlaceOf(value.source());
                } else if (key.str() == kDeviceKey) {
                    if (!Text(name, value, &text)) return false;
                    port.device = *text;
                    devicePlace = PlaceOf(value.source());
                    if (!Device(name, port.device, devicePlace)) return false;
                } else if (key.str() == "scanner" || key.str() == "label") {
                    if (!Text(name, value, &text)) return false;
                    (key.str() == "scanner" ? port.scanner : port.label) = *text;
                } else {
                    return Fail(PlaceOf(key.source()), name,
                                "unknown key; a [[port]] has name, device, scanner and label");
                }
            }
            const Place tablePlace = PlaceOf(table->source());
            if (port.name.empty()) return Fail(tablePlace, kPortKey, "expected a name (name = \"fixture 1\")");
            if (port.device.empty()) return Fail(tablePlace, kPortKey, "expected a device (device = \"/dev/ttyUSB0\")");
            if (!Once(names, port.name, namePlace, "port.name", "the name")) return false;
            if (!Once(devices, port.device, devicePlace, "port.device", "the device")) return false;
            ports.push_back(port);
        }
        config_->ports = ports;
        return true;
    }

    // A device is checked as --port is: a network port's address parses, and a raw one is
    // refused, since a station's every step reads the unit's CTS.
    bool Device(const std::string& key, const std::string& device, Place place) {
        if (!serial::IsNetworkPortName(device)) return true;
        serial::NetworkPortAddress address;
        std::string error;
        if (!serial::ParseNetworkPortName(device, &address, &error)) return Fail(place, key, error);
        if (serial::IsRawNetworkPortName(device)) {
            return Fail(place, key,
                        "a raw network port carries no CTS, which a station's every step reads; use an rfc2217:// "
                        "port");
        }
        return true;
    }

    bool Once(std::map<std::string, Place>& seen, const std::string& value, Place place, const char* key,
              const char* what) {
        auto [first, added] = seen.emplace(value, place);
        if (added) return true;
        return Fail(place, key,
                    std::string("\"") + value + "\" is already " + what + " of the port at line " +
                        std::to_string(first->second.line) + "; each port has its own");
    }

    const std::string& path_;
    StationConfig* config_;
    std::string error_;
};

}  // namespace

bool ParseStationConfig(std::string_view text, const std::string& path, StationConfig* config, std::string* error) {
    toml::parse_result parsed = toml::parse(text, path);
    if (!parsed) {
        const toml::parse_error& failure = parsed.error();
        const toml::source_position where = failure.source().begin;
        *error = path + ":" + std::to_string(where.line) + ":" + std::to_string(where.column) +
                 ": not valid TOML: " + std::string(failure.description());
        return false;
    }
    StationConfig read;
    Reader reader(path, &read);
    if (!reader.Read(parsed.table())) {
        *error = reader.Error();
        return false;
    }
    *config = read;
    return true;
}

bool ReadStationConfig(const std::string& path, StationConfig* config, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = path + ": the configuration cannot be read: " + common::ErrnoText(errno);
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        *error = path + ": the configuration cannot be read: " + common::ErrnoText(errno);
        return false;
    }
    return ParseStationConfig(text.str(), path, config, error);
}

}  // namespace cli
