// The varnex command line: bad arguments are usage errors (exit 2) with a message and run no
// command, help and the version exit 0, and a good line runs its one command on its options
// and returns that command's exit code.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "transfer/TransferText.h"

namespace {

// What a runner returns, apart from every exit code the command line itself gives.
constexpr int kRan = 42;

struct Parsed {
    std::optional<int> exit;  // set when the line ran no command
    int runs = 0;             // how many commands ran
    std::optional<cli::PortsOptions> ports;
    std::optional<cli::DownloadOptions> download;
    std::optional<cli::EraseOptions> erase;
    std::optional<cli::ServiceOptions> service;
    std::optional<cli::StationOptions> station;
    std::optional<cli::RecordsOptions> records;
    std::optional<cli::LineOptions> line;
    std::string out;
    std::string err;
};

Parsed Parse(std::vector<std::string> words) {
    words.insert(words.begin(), "varnex");
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    Parsed parsed;
    auto keep = [&parsed](auto* slot) {
        return [&parsed, slot](const auto& options) {
            ++parsed.runs;
            *slot = options;
            return kRan;
        };
    };
    cli::CommandRunners runners{keep(&parsed.ports),   keep(&parsed.download), keep(&parsed.erase),
                                keep(&parsed.service), keep(&parsed.station),  keep(&parsed.records),
                                keep(&parsed.line)};
    std::ostringstream out, err;
    int code = cli::RunCommandLine(static_cast<int>(argv.size()), argv.data(), runners, out, err);
    if (parsed.runs == 0) {
        parsed.exit = code;
    } else {
        EXPECT_EQ(code, kRan) << "a command's own exit code is the program's";
        EXPECT_EQ(parsed.runs, 1) << "one command runs";
    }
    parsed.out = out.str();
    parsed.err = err.str();
    return parsed;
}

struct BadLine {
    std::vector<std::string> words;
    const char* complaint;  // a word the message must contain
};

TEST(CliOptions, BadArgumentsAreUsageErrorsWithAMessage) {
    const BadLine lines[] = {
        {{}, "subcommand"},
        {{"flash", "--port", "/dev/a"}, "unknown command flash"},
        {{"download", "--software", "--baud", "115200"}, "--port"},
        {{"download", "--port", "/dev/a", "--baud", "115200"}, "exactly one image"},
        {{"download", "--port", "/dev/a", "--bootloader", "--software", "--baud", "115200"}, "exactly one image"},
        {{"download", "--port", "/dev/a", "--bootloader", "--image", "x.bin", "--baud", "115200"}, "exactly one image"},
        {{"download", "--port", "/dev/a", "--software"}, "--baud"},
        {{"download", "--port", "/dev/a", "--software", "--baud", "38400"}, "38400"},
        {{"download", "--port", "/dev/a", "--software", "--baud", "fast"}, "fast"},
        {{"download", "--port", "/dev/a", "--software", "--baud", "115200", "--wait", "0"}, "--wait"},
        {{"download", "--port", "/dev/a", "--software", "--baud", "115200", "--wait", "-5"}, "--wait"},
        {{"download", "--port", "/dev/a", "--software", "--baud", "115200", "--any-size"}, "--any-size"},
        {{"download", "--port", "/dev/a", "--port", "/dev/a", "--software", "--baud", "115200"}, "twice"},
        {{"download", "--port", "", "--software", "--baud", "115200"}, "port name"},
        {{"erase"}, "--port"},
        {{"erase", "--port", "/dev/a", "--baud", "115200"}, "--baud"},
        {{"erase", "--port", "socket://10.0.0.7:4001"}, "--no-cts-wait"},
        {{"request", "--port", "rfc2217://10.0.0.7"}, "HOST:PORT"},
        {{"ports", "--probe", "--remember", "COM7"}, "excludes"},
        {{"ports", "--remember"}, "--remember"},
        {{"station", "--port", "/dev/a", "--software", "--baud", "115200", "--records", "r.db", "--no-records"},
         "excludes"},
        {{"station", "--port", "/dev/a", "--software", "--baud", "115200", "--count", "0"}, "--count"},
        // Forwarding takes its rows from the records: without them it would send nothing, silently.
        {{"station", "--port", "/dev/a", "--software", "--baud", "115200", "--no-records", "--forward",
          "postgresql://varnex@db.line3/records"},
         "--forward needs --records"},
        {{"station", "--port", "/dev/a", "--baud", "115200"}, "exactly one image"},
        // A station reads CTS at every step: a raw network port would only ever be "lost".
        {{"station", "--port", "/dev/a", "--port", "socket://10.0.0.7:4001", "--software", "--baud", "115200"},
         "use an rfc2217:// port"},
        {{"records", "--since", "yesterday"}, "2026-12-08"},
        {{"records", "--result", "great"}, "great"},
        {{"records", "--format", "xml"}, "xml"},
        {{"line", "--http", "8080"}, "URL"},
        {{"line", "postgresql://varnex@db/line"}, "--http"},
        {{"line", "shift.db", "--http", "8080"}, "libpq"},
        {{"line", "postgresql://varnex:secret@db/line", "--http", "8080"}, "passfile"},
        {{"line", "postgresql://varnex@db/line", "--http", "8080", "--shift-hours", "25"}, "--shift-hours"},
    };
    for (const BadLine& line : lines) {
        Parsed parsed = Parse(line.words);
        std::string shown = testing::PrintToString(line.words);
        ASSERT_TRUE(parsed.exit.has_value()) << shown;
        EXPECT_EQ(*parsed.exit, cli::kExitUsage) << shown;
        EXPECT_NE(parsed.err.find(line.complaint), std::string::npos) << shown << " said: " << parsed.err;
    }
}

TEST(CliOptions, HelpOnEveryCommandAndTheVersionExitZero) {
    for (const char* command : {"", "ports", "download", "erase"}) {
        std::vector<std::string> words;
        if (*command) words.push_back(command);
        words.push_back("--help");
        Parsed parsed = Parse(words);
        ASSERT_TRUE(parsed.exit.has_value()) << command;
        EXPECT_EQ(*parsed.exit, cli::kExitAllDone) << command;
        EXPECT_NE(parsed.out.find("--"), std::string::npos) << command;
    }
    Parsed download = Parse({"download", "--help"});
    EXPECT_NE(download.out.find("--any-size"), std::string::npos);
    Parsed version = Parse({"--version"});
    EXPECT_EQ(version.exit, std::optional<int>(cli::kExitAllDone));
    EXPECT_NE(version.out.find(cli::kVersion), std::string::npos);
}

TEST(CliOptions, GoodLinesGiveTheirOptions) {
    Parsed download = Parse({"download", "-p", "/dev/a", "--port", "/dev/b", "--image", "x.bin", "--any-size", "--baud",
                             "57600", "--wait", "5", "--json"});
    ASSERT_FALSE(download.exit.has_value()) << download.err;
    ASSERT_TRUE(download.download.has_value());
    EXPECT_EQ(download.download->units.ports, (std::vector<std::string>{"/dev/a", "/dev/b"}));
    EXPECT_EQ(download.download->image, cli::ImageChoice::File);
    EXPECT_EQ(download.download->imageFile, "x.bin");
    EXPECT_TRUE(download.download->anySize);
    EXPECT_EQ(download.download->baud, 57600u);
    EXPECT_EQ(download.download->waitSeconds, 5u);
    EXPECT_TRUE(download.download->units.json);

    Parsed bootloader = Parse({"download", "--port", "/dev/a", "--bootloader", "--baud", "115200"});
    ASSERT_FALSE(bootloader.exit.has_value()) << bootloader.err;
    ASSERT_TRUE(bootloader.download.has_value());
    EXPECT_EQ(bootloader.download->image, cli::ImageChoice::Bootloader);
    EXPECT_EQ(bootloader.download->waitSeconds, cli::kDefaultWaitSeconds);

    Parsed erase = Parse({"erase", "--port", "/dev/a", "--port", "socket://[::1]:4001", "--no-cts-wait"});
    ASSERT_FALSE(erase.exit.has_value()) << erase.err;
    EXPECT_TRUE(erase.erase->noCtsWait);
    ASSERT_TRUE(erase.erase.has_value());
    EXPECT_EQ(erase.erase->units.ports, (std::vector<std::string>{"/dev/a", "socket://[::1]:4001"}));

    Parsed remember = Parse({"ports", "--remember", "COM7"});
    ASSERT_FALSE(remember.exit.has_value()) << remember.err;
    ASSERT_TRUE(remember.ports.has_value());
    EXPECT_EQ(remember.ports->remember, "COM7");
}

TEST(CliOptions, ServiceCommandsTakeOnePortAndTheirFiles) {
    Parsed program = Parse({"program", "get", "ABC", "out.bin", "--port", "/dev/a", "--json"});
    ASSERT_FALSE(program.exit.has_value()) << program.err;
    ASSERT_TRUE(program.service.has_value());
    EXPECT_EQ(program.service->command, cli::Command::ProgramGet);
    EXPECT_EQ(program.service->programName, "ABC");
    EXPECT_EQ(program.service->file, "out.bin");
    EXPECT_TRUE(program.service->units.json);

    Parsed monitor = Parse({"monitor", "-p", "/dev/a"});
    ASSERT_FALSE(monitor.exit.has_value()) << monitor.err;
    ASSERT_TRUE(monitor.service.has_value());
    EXPECT_EQ(monitor.service->command, cli::Command::Monitor);

    const BadLine lines[] = {
        {{"request", "--port", "/dev/a", "--port", "/dev/b"}, "one unit"},
        {{"program", "get", "", "out.bin", "--port", "/dev/a"}, "empty"},
        {{"program", "get", std::string(transfer::kMaxProgramNameLength + 1, 'N'), "out.bin", "--port", "/dev/a"},
         "254"},
        {{"settings", "send", "/no/such/file", "--port", "/dev/a"}, "/no/such/file"},
        {{"nlec", "send", "/no/such/file", "--port", "/dev/a"}, "/no/such/file"},
        {{"program", "send", "/no/such/file", "--port", "/dev/a"}, "/no/such/file"},
        {{"bitmap", "send", "/no/such/file", "--port", "/dev/a"}, "/no/such/file"},
        {{"nlec", "--port", "/dev/a"}, "subcommand"},
    };
    for (const BadLine& line : lines) {
        Parsed parsed = Parse(line.words);
        EXPECT_EQ(parsed.exit, cli::kExitUsage) << line.complaint;
        EXPECT_NE(parsed.err.find(line.complaint), std::string::npos) << parsed.err;
    }
}

TEST(CliOptions, AnEmptyPortIsAUsageErrorForEveryServiceCommand) {
    const std::string file = ::testing::TempDir() + "cli_options_test_file.txt";
    std::ofstream(file) << "A=1\n";  // the sends' files exist: only the port is wrong
    const std::vector<std::string> commands[] = {
        {"nlec", "get", "out.txt"},
        {"nlec", "send", file},
        {"settings", "get", "out.bin"},
        {"settings", "send", file},
        {"program", "get", "P", "out.bin"},
        {"program", "send", file},
        {"bitmap", "send", file},
        {"monitor"},
        {"request"},
    };
    for (std::vector<std::string> words : commands) {
        words.insert(words.end(), {"--port", ""});
        Parsed parsed = Parse(words);
        EXPECT_EQ(parsed.exit, cli::kExitUsage) << testing::PrintToString(words);
        EXPECT_NE(parsed.err.find("port name"), std::string::npos) << parsed.err;
    }
    std::remove(file.c_str());
}

}  // namespace

TEST(CliOptions, StationAndRecordsTakeTheirOptions) {
    Parsed station = Parse({"station", "-p", "/dev/a", "-p", "rfc2217://10.0.0.7:4001", "--bootloader", "--baud",
                            "57600", "--count", "12", "--stop-on-failure", "--station", "line-4"});
    ASSERT_TRUE(station.station.has_value()) << station.err;
    EXPECT_EQ(station.station->load.units.ports, (std::vector<std::string>{"/dev/a", "rfc2217://10.0.0.7:4001"}));
    EXPECT_EQ(station.station->load.image, cli::ImageChoice::Bootloader);
    EXPECT_EQ(station.station->records, "varnex-records.db");
    EXPECT_EQ(station.station->count, 12u);
    EXPECT_TRUE(station.station->stopOnFailure);
    EXPECT_EQ(station.station->station, "line-4");
    Parsed none = Parse({"station", "-p", "/dev/a", "--software", "--baud", "115200", "--no-records"});
    ASSERT_TRUE(none.station.has_value()) << none.err;
    EXPECT_TRUE(none.station->records.empty());

    Parsed records = Parse({"records", "shift.db", "--since", "2026-12-08 06:30", "--port", "/dev/a", "--result",
                            "no_confirmation", "--format", "csv", "--summary"});
    ASSERT_TRUE(records.records.has_value()) << records.err;
    EXPECT_EQ(records.records->file, "shift.db");
    EXPECT_EQ(records.records->since, "2026-12-08T06:30");
    EXPECT_EQ(records.records->result, "no_confirmation");
    EXPECT_EQ(records.records->format, cli::RecordsFormat::Csv);
    EXPECT_TRUE(records.records->summary);
    Parsed download = Parse({"download", "-p", "/dev/a", "--software", "--baud", "115200", "--records", "r.db"});
    ASSERT_TRUE(download.download.has_value()) << download.err;
    EXPECT_EQ(download.download->units.records, "r.db");

    Parsed line = Parse({"line", "postgresql://varnex@db.line3/line", "--http", "0.0.0.0:8420", "--http-token-file",
                         "/etc/varnex/line.token", "--shift-hours", "12"});
    ASSERT_TRUE(line.line.has_value()) << line.err;
    EXPECT_EQ(line.line->url, "postgresql://varnex@db.line3/line");
    EXPECT_EQ(line.line->http, "0.0.0.0:8420");
    EXPECT_EQ(line.line->httpTokenFile, "/etc/varnex/line.token");
    EXPECT_EQ(line.line->shiftHours, 12);
}
