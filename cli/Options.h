// The command line of varnex: its commands and options, parsed with CLI11 into plain values.
// Parsing never exits the process; the caller prints what it returns and picks the exit code.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/Version.h"

namespace cli {

inline constexpr const char* kVersion = VARNEX_VERSION;
inline constexpr int kExitAllDone = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr uint32_t kDefaultWaitSeconds = 120;
// A technician needs minutes at most; a day is surely a typing mistake.
inline constexpr uint32_t kMaxWaitSeconds = 24 * 3600;
// The unit keeps a program's name of at most this many characters.
inline constexpr size_t kMaxProgramNameChars = 254;

enum class Command {
    Ports,
    Download,
    Erase,
    // The service functions over the packet link, one unit each.
    NlecGet,
    NlecSend,
    SettingsGet,
    SettingsSend,
    ProgramGet,
    ProgramSend,
    BitmapSend,
    Monitor,
    Request,
};

// True for the commands that talk to a running unit over the packet link.
bool IsServiceCommand(Command command);
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
    // service commands
    std::string file;         // the file to send, or the name a receive is saved under
    std::string programName;  // program get: the unit's name for the program
};

// Parses argv. Returns nothing when the command should run; otherwise the exit code, after
// writing help or the version to out, or the usage error to err.
std::optional<int> ParseCommandLine(int argc, const char* const argv[], Options* options, std::ostream& out,
                                    std::ostream& err);

}  // namespace cli
