// A station's configuration file: every key reaches its option, the command line wins over
// the file, and every kind of bad file is refused with its place, its key and what was
// expected, before any command runs.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/station/StationConfig.h"

namespace {

constexpr const char* kEveryKey = R"(# a station with every key
station = "line3-bench2"
image = "images/v2.bin"
any_size = true
baud = 57600
records = "/var/lib/varnex/line3-bench2.db"
no_records = false
count = 500
stop_on_failure = true
json = true
forward = "postgresql://varnex@db.line3/records"
http = "0.0.0.0:8417"
http_token_file = "token"

[[port]]
name = "fixture 1"
device = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.1:1.0-port0"

[[port]]
name = "fixture 9"
device = "rfc2217://line3-server:4001"
)";

std::string WriteFile(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// What the station command was given for a command line, or the usage error's message.
struct Station {
    std::optional<cli::StationOptions> options;
    int exit = 0;
    std::string err;
};

Station RunStation(std::vector<std::string> words) {
    words.insert(words.begin(), {"varnex", "station"});
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    Station result;
    cli::CommandRunners runners;
    runners.station = [&result](const cli::StationOptions& options) {
        result.options = options;
        return 0;
    };
    std::ostringstream out, err;
    result.exit = cli::RunCommandLine(static_cast<int>(argv.size()), argv.data(), runners, out, err);
    result.err = err.str();
    return result;
}

TEST(StationConfig, EveryKeyReachesItsOption) {
    const std::string path = WriteFile("every_key.toml", kEveryKey);
    const std::string folder = path.substr(0, path.find_last_of('/') + 1);
    Station station = RunStation({"--config", path});
    ASSERT_TRUE(station.options.has_value()) << station.err;
    const cli::StationOptions& options = *station.options;
    EXPECT_EQ(options.station, "line3-bench2");
    EXPECT_EQ(options.load.image, cli::ImageChoice::File);
    EXPECT_EQ(options.load.imageFile, folder + "images/v2.bin") << "a path is taken from the file's folder";
    EXPECT_TRUE(options.load.anySize);
    EXPECT_EQ(options.load.baud, 57600u);
    EXPECT_EQ(options.records, "/var/lib/varnex/line3-bench2.db");
    EXPECT_FALSE(options.noRecords);
    EXPECT_EQ(options.count, 500u);
    EXPECT_TRUE(options.stopOnFailure);
    EXPECT_TRUE(options.load.units.json);
    EXPECT_EQ(options.forward, "postgresql://varnex@db.line3/records");
    EXPECT_EQ(options.http, "0.0.0.0:8417");
    EXPECT_EQ(options.httpTokenFile, folder + "token");
    EXPECT_EQ(options.load.units.ports,
              (std::vector<std::string>{"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.1:1.0-port0",
                                        "rfc2217://line3-server:4001"}));
    EXPECT_EQ(options.portNames, (std::vector<std::string>{"fixture 1", "fixture 9"}));

    Station without = RunStation({"--port", "/dev/a", "--software", "--baud", "115200"});
    ASSERT_TRUE(without.options.has_value()) << without.err;
    EXPECT_EQ(without.options->portNames, without.options->load.units.ports) << "an unnamed port is its device";
}

TEST(StationConfig, TheCommandLineWinsOverTheFile) {
    const std::string path = WriteFile("overridden.toml", kEveryKey);
    Station station = RunStation({"--config", path, "--port", "/dev/ttyUSB4", "--bootloader", "--baud", "115200",
                                  "--no-records", "--station", "spare", "--count", "3"});
    ASSERT_TRUE(station.options.has_value()) << station.err;
    const cli::StationOptions& options = *station.options;
    EXPECT_EQ(options.load.units.ports, (std::vector<std::string>{"/dev/ttyUSB4"}));
    EXPECT_EQ(options.portNames, (std::vector<std::string>{"/dev/ttyUSB4"}));
    EXPECT_EQ(options.load.image, cli::ImageChoice::Bootloader);
    EXPECT_FALSE(options.load.anySize) << "the file's any_size goes with the file's image";
    EXPECT_EQ(options.load.baud, 115200u);
    EXPECT_TRUE(options.records.empty());
    EXPECT_EQ(options.station, "spare");
    EXPECT_EQ(options.count, 3u);
    EXPECT_TRUE(options.stopOnFailure) << "what the command line leaves alone stays the file's";
    EXPECT_TRUE(options.forward.empty()) << "the file's forward goes with the records --no-records drops";

    Station forwarded = RunStation({"--config", path, "--forward", "postgresql://varnex@db.line4/records"});
    ASSERT_TRUE(forwarded.options.has_value()) << forwarded.err;
    EXPECT_EQ(forwarded.options->forward, "postgresql://varnex@db.line4/records");

    const std::string partial =
        WriteFile("partial.toml", "image = \"software\"\n[[port]]\nname = \"a\"\ndevice = \"/dev/a\"\n");
    Station noBaud = RunStation({"--config", partial});
    EXPECT_EQ(noBaud.exit, cli::kExitUsage);
    EXPECT_NE(noBaud.err.find("--baud is required"), std::string::npos) << noBaud.err;
    Station withBaud = RunStation({"--config", partial, "--baud", "57600"});
    ASSERT_TRUE(withBaud.options.has_value()) << withBaud.err;
    EXPECT_EQ(withBaud.options->load.image, cli::ImageChoice::Software);
}

struct BadFile {
    const char* text;
    const char* message;  // what follows "FILE:" in the message
};

TEST(StationConfig, EveryKindOfBadFileIsRefusedWithItsPlaceAndKey) {
    const std::string port = "\n[[port]]\nname = \"a\"\ndevice = \"/dev/a\"\n";
    const BadFile files[] = {
        {"baud = 115200\nimage = \"software\n", "2:18: not valid TOML"},
        {"baud = 115200\nbaud = 57600\n", "2:8: not valid TOML: Error while parsing key-value pair: cannot redefine"},
        {"baud = 115200\n  speed = 3\n", "2:3: speed: unknown key"},
        {"baud = \"fast\"\n", "1:8: baud: expected an integer, found a string"},
        {"baud = 38400\n", "1:8: baud: expected 115200 or 57600 (the speed chosen on the unit), found 38400"},
        {"count = 0\n", "1:9: count: expected a number of units from 1 to 4294967295, found 0"},
        {"json = \"yes\"\n", "1:8: json: expected true or false, found a string"},
        {"station = \"\"\n", "1:11: station: expected a string that is not empty"},
        {"http = \"0.0.0.0:99999\"\n", "1:8: http: expected [ADDRESS:]PORT with a port from 1 to 65535"},
        // Port 0 would put a service's board on a port nobody knows.
        {"http = \"0\"\n", "1:8: http: expected [ADDRESS:]PORT with a port from 1 to 65535, found \"0\""},
        {"[board]\ncolour = true\n", "1:2: board: unknown key"},
        {"port = \"/dev/a\"\n", "1:8: port: expected [[port]] tables, found a string"},
        {"[[port]]\nname = \"a\"\ndevice = \"/dev/a\"\nbaud = 57600\n", "4:1: port.baud: unknown key"},
        {"[[port]]\nname = \"a\"\n", "1:1: port: expected a device"},
        {"[[port]]\nname = \"a\"\ndevice = \"socket://h:1\"\n", "3:10: port.device: a raw network port"},
        {"[[port]]\nname = \"a\"\ndevice = \"/dev/a\"\n[[port]]\nname = \"a\"\ndevice = \"/dev/b\"\n",
         "5:8: port.name: \"a\" is already the name of the port at line 2"},
        {"[[port]]\nname = \"a\"\ndevice = \"/dev/a\"\n[[port]]\nname = \"b\"\ndevice = \"/dev/a\"\n",
         "6:10: port.device: \"/dev/a\" is already the device of the port at line 3"},
        {"reload = \"sometimes\"\n",
         "1:10: reload: expected one of \"allow\", \"warn\", \"refuse\", found \"sometimes\""},
        {"serial_pattern = \"[A-Z\"\n", "1:18: serial_pattern: \"[A-Z\" is not a regular expression"},
        {"scanner_parity = \"mark\"\n", "1:18: scanner_parity: expected one of \"none\", \"odd\", \"even\""},
        {"scanner_baud = 1234\n", "1:16: scanner_baud: expected one of 9600, 19200, 38400, 57600, 115200, found 1234"},
        {"[[port]]\nname = \"a\"\ndevice = \"/dev/a\"\nlabel = 7\n", "4:9: port.label: expected a string"},
    };
    for (const BadFile& file : files) {
        cli::StationConfig config;
        std::string error;
        EXPECT_FALSE(cli::ParseStationConfig(file.text, "bench.toml", &config, &error)) << file.text;
        EXPECT_EQ(error.rfind(std::string("bench.toml:") + file.message, 0), 0u) << file.text << "\nsaid: " << error;
    }

    // Through the command line: a usage error, before the station runs.
    Station missing = RunStation({"--config", ::testing::TempDir() + "no_such.toml"});
    EXPECT_EQ(missing.exit, cli::kExitUsage);
    EXPECT_FALSE(missing.options.has_value());
    EXPECT_NE(missing.err.find("no_such.toml: the configuration cannot be read: No such file"), std::string::npos)
        << missing.err;
    const std::string bad = WriteFile("bad.toml", "baud = 38400\n" + port);
    Station refused = RunStation({"--config", bad, "--software"});
    EXPECT_EQ(refused.exit, cli::kExitUsage);
    EXPECT_FALSE(refused.options.has_value());
    EXPECT_NE(refused.err.find(bad + ":1:8: baud:"), std::string::npos) << refused.err;
}

// The scanners' keys reach the station, the command line's --scanner replaces the file's, and
// a setup that cannot work (an unknown port, a station scanner without labels, a serial
// required with no scanner, both kinds of scanner) is a usage error.
TEST(StationConfig, ScannersComeFromTheFileOrTheCommandLineAndMustFitThePorts) {
    const std::string path = WriteFile("scanners.toml", R"(baud = 115200
image = "software"
require_serial = true
serial_pattern = "SN[0-9]{6}"
reload = "refuse"
scanner_baud = 19200
scanner_data_bits = 7
scanner_parity = "even"
scanner_stop_bits = 2
[[port]]
name = "fixture 1"
device = "/dev/ttyUSB0"
scanner = "/dev/ttyACM0"
label = "F01"
[[port]]
name = "fixture 2"
device = "/dev/ttyUSB1"
label = "F02"
)");
    Station station = RunStation({"--config", path});
    ASSERT_TRUE(station.options.has_value()) << station.err;
    const cli::ScannerOptions& scanners = station.options->scanners;
    EXPECT_EQ(scanners.portScanners, (std::vector<std::string>{"/dev/ttyACM0", ""}));
    EXPECT_EQ(scanners.labels, (std::vector<std::string>{"F01", "F02"}));
    EXPECT_TRUE(scanners.requireSerial);
    EXPECT_EQ(scanners.serialPattern, "SN[0-9]{6}");
    EXPECT_EQ(scanners.reload, station::Reload::Refuse);
    EXPECT_EQ(scanners.framing.baud, 19200u);
    EXPECT_EQ(scanners.framing.dataBits, 7u);
    EXPECT_EQ(scanners.framing.parity, serial::Parity::Even);
    EXPECT_EQ(scanners.framing.stopBits, 2u);

    Station moved = RunStation({"--config", path, "--scanner", "/dev/ttyUSB1=/dev/ttyACM7"});
    ASSERT_TRUE(moved.options.has_value()) << moved.err;
    EXPECT_EQ(moved.options->scanners.portScanners, (std::vector<std::string>{"", "/dev/ttyACM7"}));
    Station one = RunStation({"--config", path, "--scanner", "/dev/ttyACM5"});
    ASSERT_TRUE(one.options.has_value()) << one.err;
    EXPECT_EQ(one.options->scanners.stationScanner, "/dev/ttyACM5");
    EXPECT_EQ(one.options->scanners.portScanners, (std::vector<std::string>{"", ""}));

    const std::vector<std::string> base = {"--port", "/dev/ttyUSB0", "--software", "--baud", "115200"};
    const std::pair<std::vector<std::string>, const char*> bad[] = {
        {{"--scanner", "fixture 9=/dev/ttyACM0"}, "--scanner fixture 9=/dev/ttyACM0: no port fixture 9"},
        {{"--scanner", "/dev/ttyUSB0="}, "no scanner device after ="},
        {{"--scanner", "/dev/ttyACM0"}, "a station scanner needs a label on every [[port]]"},
        {{"--require-serial"}, "--require-serial needs a scanner"},
        {{"--scanner", "/dev/ttyUSB0=/dev/ttyUSB0"}, "scanner /dev/ttyUSB0 is given twice (or is a port)"},
    };
    for (const auto& [words, message] : bad) {
        std::vector<std::string> line = base;
        line.insert(line.end(), words.begin(), words.end());
        Station refused = RunStation(line);
        EXPECT_EQ(refused.exit, cli::kExitUsage) << message;
        EXPECT_NE(refused.err.find(message), std::string::npos) << refused.err;
    }
    Station both = RunStation({"--config", path, "--scanner", "/dev/ttyACM5", "--scanner", "fixture 1=/dev/ttyACM6"});
    EXPECT_NE(both.err.find("either a scanner per fixture or one for the station"), std::string::npos) << both.err;
}

}  // namespace
