// The command line of varnex: its commands and options, parsed with CLI11 into one plain
// options value per command, each handed to that command's runner. Parsing never exits the
// process; the caller prints nothing itself and returns the exit code it is given.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "common/Version.h"
#include "serial/SerialPort.h"
#include "station/PortCycle.h"
#include "station/ScanPairing.h"

namespace cli {

inline constexpr const char* kVersion = VARNEX_VERSION;
inline constexpr int kExitAllDone = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitUsage = 2;
// The station can no longer do its work: its records cannot be written (at its start or
// during the run). A service manager tells this apart from a finished station.
inline constexpr int kExitCannotWork = 3;
inline constexpr uint32_t kDefaultWaitSeconds = 120;
// A technician needs minutes at most; a day is surely a typing mistake.
inline constexpr uint32_t kMaxWaitSeconds = 24 * 3600;

// The service functions over the packet link, one unit each.
enum class Command {
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

enum class ImageChoice { Bootloader, Software, File };

// ports
struct PortsOptions {
    bool probe = false;
    std::string remember;
    bool stationConfig = false;  // print a station's configuration for the ports instead
};

// What every command on units shares: the units' ports, each given once, and the records.
struct UnitsOptions {
    std::vector<std::string> ports;
    bool json = false;
    std::string records;  // download and erase: the records file, empty for none
    std::string forward;  // the line's records server the rows go on to, empty for none
};

// download
struct DownloadOptions {
    UnitsOptions units;
    ImageChoice image = ImageChoice::Software;
    std::string imageFile;
    bool anySize = false;
    uint32_t baud = 0;
    uint32_t waitSeconds = kDefaultWaitSeconds;
    bool noCtsWait = false;  // start at once: the port has no CTS (socket://) or it is not wired
};

// erase
struct EraseOptions {
    UnitsOptions units;
    bool noCtsWait = false;  // needed on a port without CTS (socket://)
};

// nlec, settings, program, bitmap, monitor and request: one unit's port.
struct ServiceOptions {
    UnitsOptions units;
    Command command = Command::Request;
    std::string file;         // the file to send, or the name a receive is saved under
    std::string programName;  // program get: the unit's name for the program
};

// The station's barcode scanners (cli/station/ScannerOptions.h reads and checks them).
struct ScannerOptions {
    std::vector<std::string> given;  // --scanner as typed: PORT=DEVICE or DEVICE
    // Resolved, one per port in the ports' order: its scanner and its label ("" for none).
    std::vector<std::string> portScanners;
    std::vector<std::string> labels;
    std::string stationScanner;
    bool requireSerial = false;
    std::string serialPattern = station::kDefaultSerialPattern;
    station::Reload reload = station::Reload::Warn;
    serial::LineFraming framing;

    bool Any() const;
};

// station: the ports, image and speed as download takes them (download.waitSeconds unused).
struct StationOptions {
    DownloadOptions load;
    // What the board, --json and the records call each port of load.units.ports, in its
    // order: the configuration's names ("fixture 7"), or the device itself.
    std::vector<std::string> portNames;
    std::string config;   // --config FILE: the setup the command line's options override
    std::string records;  // empty with --no-records
    bool noRecords = false;
    std::string forward;  // the line's records server the rows go on to, empty for none
    std::string station;  // empty: the host's name
    uint32_t count = 0;   // 0: no limit
    bool stopOnFailure = false;
    std::string http;           // the web board's [ADDR:]PORT; empty for none
    std::string httpTokenFile;  // the file holding the web board's token; empty for none
    ScannerOptions scanners;
};

enum class RecordsFormat { Table, Csv, Json };

// records
struct RecordsOptions {
    std::string file;
    std::string since;  // an ISO 8601 date or time, "T" between date and time
    std::string port;
    std::string result;
    RecordsFormat format = RecordsFormat::Table;
    bool summary = false;
    std::string station;
    std::string serial;
    // records forward FILE URL: the file's rows sent to the server instead of a listing.
    bool forward = false;
    std::string forwardFile;
    std::string forwardUrl;
};

// line: the line page.
inline constexpr int kDefaultShiftHours = 8;
inline constexpr int kMaxShiftHours = 24;
struct LineOptions {
    std::string url;                      // the line's records server
    std::string http;                     // the page's [ADDR:]PORT
    std::string httpTokenFile;            // the file holding the page's token; empty for none
    int shiftHours = kDefaultShiftHours;  // the charts cover the loads started this many hours back
};

// What each command runs; each returns the process's exit code.
struct CommandRunners {
    std::function<int(const PortsOptions&)> ports;
    std::function<int(const DownloadOptions&)> download;
    std::function<int(const EraseOptions&)> erase;
    std::function<int(const ServiceOptions&)> service;
    std::function<int(const StationOptions&)> station;
    std::function<int(const RecordsOptions&)> records;
    std::function<int(const LineOptions&)> line;
};

// Parses argv and runs the chosen command's runner, returning its exit code. Help and the
// version go to out (exit 0), a usage error to err (exit 2), and no runner is called.
int RunCommandLine(int argc, const char* const argv[], const CommandRunners& runners, std::ostream& out,
                   std::ostream& err);

}  // namespace cli
