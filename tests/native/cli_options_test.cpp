// The varnex command line: bad arguments are usage errors (exit 2) with a message, help and
// the version exit 0, and good lines come out as the options the commands run on.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/Options.h"

namespace {

struct Parsed {
    std::optional<int> exit;
    cli::Options options;
    std::string out;
    std::string err;
};

Parsed Parse(std::vector<std::string> words) {
    words.insert(words.begin(), "varnex");
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    Parsed parsed;
    std::ostringstream out, err;
    parsed.exit = cli::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &parsed.options, out, err);
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
        {{"ports", "--probe", "--remember", "COM7"}, "excludes"},
        {{"ports", "--remember"}, "--remember"},
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
    EXPECT_EQ(download.options.command, cli::Command::Download);
    EXPECT_EQ(download.options.ports, (std::vector<std::string>{"/dev/a", "/dev/b"}));
    EXPECT_EQ(download.options.image, cli::ImageChoice::File);
    EXPECT_EQ(download.options.imageFile, "x.bin");
    EXPECT_TRUE(download.options.anySize);
    EXPECT_EQ(download.options.baud, 57600u);
    EXPECT_EQ(download.options.waitSeconds, 5u);
    EXPECT_TRUE(download.options.json);

    Parsed bootloader = Parse({"download", "--port", "/dev/a", "--bootloader", "--baud", "115200"});
    ASSERT_FALSE(bootloader.exit.has_value()) << bootloader.err;
    EXPECT_EQ(bootloader.options.image, cli::ImageChoice::Bootloader);
    EXPECT_EQ(bootloader.options.waitSeconds, cli::kDefaultWaitSeconds);

    Parsed erase = Parse({"erase", "--port", "/dev/a"});
    ASSERT_FALSE(erase.exit.has_value()) << erase.err;
    EXPECT_EQ(erase.options.command, cli::Command::Erase);

    Parsed remember = Parse({"ports", "--remember", "COM7"});
    ASSERT_FALSE(remember.exit.has_value()) << remember.err;
    EXPECT_EQ(remember.options.command, cli::Command::Ports);
    EXPECT_EQ(remember.options.remember, "COM7");
}

TEST(CliOptions, ServiceCommandsTakeOnePortAndTheirFiles) {
    Parsed program = Parse({"program", "get", "ABC", "out.bin", "--port", "/dev/a", "--json"});
    ASSERT_FALSE(program.exit.has_value()) << program.err;
    EXPECT_EQ(program.options.command, cli::Command::ProgramGet);
    EXPECT_EQ(program.options.programName, "ABC");
    EXPECT_EQ(program.options.file, "out.bin");
    EXPECT_TRUE(cli::IsServiceCommand(program.options.command));

    Parsed monitor = Parse({"monitor", "-p", "/dev/a"});
    ASSERT_FALSE(monitor.exit.has_value()) << monitor.err;
    EXPECT_EQ(monitor.options.command, cli::Command::Monitor);

    const BadLine lines[] = {
        {{"request", "--port", "/dev/a", "--port", "/dev/b"}, "one unit"},
        {{"program", "get", "", "out.bin", "--port", "/dev/a"}, "empty"},
        {{"program", "get", std::string(cli::kMaxProgramNameChars + 1, 'N'), "out.bin", "--port", "/dev/a"}, "254"},
        {{"settings", "send", "/no/such/file", "--port", "/dev/a"}, "/no/such/file"},
        {{"nlec", "--port", "/dev/a"}, "subcommand"},
    };
    for (const BadLine& line : lines) {
        Parsed parsed = Parse(line.words);
        EXPECT_EQ(parsed.exit, cli::kExitUsage) << line.complaint;
        EXPECT_NE(parsed.err.find(line.complaint), std::string::npos) << parsed.err;
    }
}

}  // namespace
