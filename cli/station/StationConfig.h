// A station's whole setup in one TOML file (varnex station --config FILE). The file is read
// whole and checked whole before anything else happens: an unknown key, a value of the wrong
// type or range, two ports with one name or one device are refused with FILE:LINE:COLUMN, the
// key and what was expected. Only the keys the file holds are set; the command line decides
// which of them it overrides.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// A fixture position: what the operator calls it, the device it is on, and its barcode
// scanner and the code of its own label (both "" when none).
struct ConfigPort {
    std::string name;
    std::string device;
    std::string scanner = {};
    std::string label = {};
};

struct StationConfig {
    std::optional<std::string> station;
    std::optional<std::string> image;  // "bootloader", "software" or a file (relative to the file's folder)
    std::optional<bool> anySize;
    std::optional<uint32_t> baud;
    std::optional<std::string> records;  // relative to the file's folder
    std::optional<bool> noRecords;
    std::optional<uint32_t> count;
    std::optional<bool> stopOnFailure;
    std::optional<bool> json;
    std::optional<std::string> http;           // [ADDR:]PORT of the web board
    std::optional<std::string> httpTokenFile;  // relative to the file's folder
    std::optional<std::string> forward;        // the records server's connection string
    std::optional<std::vector<ConfigPort>> ports;
    // The barcode scanners: the station's one (a fixture's label, then the unit's), whether a
    // unit waits for its serial, what a serial may be, what a unit loaded before gets, and
    // the serial-mode scanners' line.
    std::optional<std::string> scanner;
    std::optional<bool> requireSerial;
    std::optional<std::string> serialPattern;
    std::optional<std::string> reload;  // "allow", "warn" or "refuse"
    std::optional<uint32_t> scannerBaud;
    std::optional<uint32_t> scannerDataBits;
    std::optional<std::string> scannerParity;  // "none", "odd" or "even"
    std::optional<uint32_t> scannerStopBits;
};

// The image keys' two embedded images; any other text names a file.
inline constexpr const char* kConfigBootloader = "bootloader";
inline constexpr const char* kConfigSoftware = "software";

// Reads and checks the file at path. False with one message ("FILE:LINE:COLUMN: KEY: ...",
// or "FILE: ..." when the file cannot be read) in *error.
bool ReadStationConfig(const std::string& path, StationConfig* config, std::string* error);

// The same on text already read; path is what the messages name and where relative paths
// start from.
bool ParseStationConfig(std::string_view text, const std::string& path, StationConfig* config, std::string* error);

}  // namespace cli
