// The command line of varnex: its commands and options, parsed with CLI11 into plain values.
// Parsing never exits the process; the caller prints what it returns and picks the exit code.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

inline constexpr const char* kVersion = "1.1.1";
inline constexpr int kExitAllDone = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr uint32_t kDefaultWaitSeconds = 120;
// A technician needs minutes at most; a day is surely a typing mistake.
inline constexpr uint32_t kMaxWaitSeconds = 24 * 3600;

enum class Command { Ports, Download, Erase };
enum class ImageChoice { Bootloader, Software, File };

struct Options {
    Command command = Command::Ports;
    // ports
    bool probe = false;
    std::string remember;
    // download and erase
    std::vector<std::string> ports;
    bool json = false;
    // download
    ImageChoice image = ImageChoice::Software;
    std::string imageFile;
    bool anySize = false;
    uint32_t baud = 0;
    uint32_t waitSeconds = kDefaultWaitSeconds;
};

// Parses argv. Returns nothing when the command should run; otherwise the exit code, after
// writing help or the version to out, or the usage error to err.
std::optional<int> ParseCommandLine(int argc, const char* const argv[], Options* options, std::ostream& out,
                                    std::ostream& err);

}  // namespace cli
