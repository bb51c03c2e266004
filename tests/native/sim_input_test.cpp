// Outside input the simulated unit must survive and read correctly: its command line, JSON
// control requests, and whatever arrives on the line (seeded random traffic under the
// sanitizers, in the spirit of a fuzzer).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "sim/Control.h"
#include "sim/Json.h"
#include "sim/Options.h"
#include "sim/Scenario.h"
#include "sim/Unit.h"

namespace sim {
namespace {

bool parse(std::vector<const char*> args, SimOptions& out, std::string& error) {
    args.insert(args.begin(), "varnex-sim");
    return parseOptions(int(args.size()), args.data(), out, error);
}

TEST(SimOptions, ScenarioFromTheCommandLine) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--link", "/tmp/x/com1", "--mode", "bootloader", "--baud=57600", "--erase-ms", "1200",
                       "--erase-fault", "stray_byte", "--program-file", "ABC=/tmp/p.bin", "--program-file",
                       "/tmp/any.bin", "--fault", "delay_reply,at=2,delay_ms=900,command=11", "--pace"},
                      o, error))
        << error;
    EXPECT_EQ(o.link, "/tmp/x/com1");
    EXPECT_EQ(o.unit.mode, Mode::Bootloader);
    EXPECT_EQ(o.unit.bootBaud, 57600u);
    EXPECT_EQ(o.unit.eraseMs, 1200u);
    EXPECT_EQ(o.unit.eraseFault, EraseFault::StrayByte);
    EXPECT_TRUE(o.unit.pacing);
    ASSERT_EQ(o.programFiles.size(), 2u);
    EXPECT_EQ(o.programFiles[0], (std::pair<std::string, std::string>{"ABC", "/tmp/p.bin"}));
    EXPECT_EQ(o.programFiles[1].first, "*");
    ASSERT_EQ(o.faults.size(), 1u);
    EXPECT_EQ(o.faults[0].find("kind")->get<std::string>(), "delay_reply");
    EXPECT_EQ(o.faults[0].find("delay_ms")->get<double>(), 900);

    for (std::vector<const char*> bad : std::vector<std::vector<const char*>>{{"--baud", "9600"},
                                                                              {"--mode", "sleeping"},
                                                                              {"--erase-ms", "-5"},
                                                                              {"--erase-ms"},
                                                                              {"--file-chunk", "513"},
                                                                              {"--frobnicate"},
                                                                              {"--erase-fault", "sometimes"},
                                                                              {"--fault", "noise,rate"}}) {
        SimOptions ignored;
        error.clear();
        EXPECT_FALSE(parse(bad, ignored, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(SimScenario, RequestsRunAtStartOrOnCueEachOnce) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(s.parse("# a unit that loses CTS mid-download\n"
                        "{\"cmd\": \"mode\", \"mode\": \"bootloader\"}\n"
                        "\n"
                        "{\"cmd\": \"cts\", \"on\": false, \"after_ms\": 5000}\r\n"
                        "{\"cmd\": \"log\", \"text\": \"early\", \"after_ms\": 20}\n"
                        "{\"cmd\": \"status\"}",
                        error))
        << error;
    ASSERT_EQ(s.size(), 4u);
    std::vector<Json> now = s.due(0);
    ASSERT_EQ(now.size(), 2u);
    EXPECT_EQ(now[0].find("cmd")->get<std::string>(), "mode");
    EXPECT_EQ(now[1].find("cmd")->get<std::string>(), "status");
    EXPECT_EQ(s.nextDueMs(), 20u);
    EXPECT_TRUE(s.due(19).empty());
    EXPECT_EQ(s.due(6000).size(), 2u);  // both late ones, earliest first
    EXPECT_TRUE(s.due(9000).empty());
    EXPECT_EQ(s.nextDueMs(), UINT64_MAX);

    for (const char* bad :
         {"{\"cmd\": \"status\"}\nnot json", "{\"mode\": \"off\"}", "{\"cmd\": \"cts\", \"after_ms\": -1}"}) {
        error.clear();
        EXPECT_FALSE(s.parse(bad, error)) << bad;
        EXPECT_NE(error.find("line "), std::string::npos) << error;
    }
}

TEST(SimJson, NestingIsBoundedAndAnyBytesMakeOneParsableLine) {
    std::string error;
    auto nested = [](int depth) { return std::string(size_t(depth), '[') + std::string(size_t(depth), ']'); };
    Json parsed;
    EXPECT_TRUE(parseJson(nested(kMaxJsonDepth), parsed, error)) << error;
    EXPECT_FALSE(parseJson(nested(kMaxJsonDepth + 1), parsed, error));
    EXPECT_NE(error.find("deeply"), std::string::npos) << error;

    // Bytes from the line need not be UTF-8: the event line stays one line that parses, and
    // its printable ASCII comes back as it was.
    std::string all;
    for (int c = 0; c < 256; ++c) all += char(c);
    Json s = Json::object();
    s["text"] = all;
    std::string line = jsonLine(s);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    Json back;
    ASSERT_TRUE(parseJson(line, back, error)) << error;
    EXPECT_EQ(member(back, "text")->get<std::string>().substr(0, 128), all.substr(0, 128));
}

TEST(SimRobustness, RandomLineTrafficAndRequestsNeverBreakTheUnit) {
    char tmpl[] = "/tmp/sim-input-test-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    Content content(dir);
    content.loadBuiltins();
    EventLog log;
    UnitConfig config;
    config.eraseMs = 50;
    config.quietGapMs = 100;
    Unit unit(config, content, log);
    std::mt19937 rng(12345);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    const uint32_t speeds[] = {38400, 115200, 57600, 9600};
    const char* requests[] = {"status",   "mode",  "enter",    "cts",          "modem",        "image",
                              "config",   "erase", "pace",     "content",      "content_set",  "content_builtin",
                              "received", "send",  "send_raw", "log",          "erase_result", "text",
                              "error",    "fault", "faults",   "faults_clear", "events",       "trace",
                              "reset",    "help"};
    const char* values[] = {"1",
                            "-1",
                            "0",
                            "1e9",
                            "\"running\"",
                            "\"bootloader\"",
                            "\"off\"",
                            "true",
                            "null",
                            "\"7e7e\"",
                            "\"zz\"",
                            "[]",
                            "{}",
                            "115200",
                            "57600",
                            "\"corrupt_byte\"",
                            "\"drop_byte\"",
                            "\"noise\"",
                            "\"long_length\"",
                            "\"error_13\"",
                            "0.5",
                            "\"/nonexistent\""};
    const char* keys[] = {"mode",  "baud",    "on",         "cts",   "kind",  "at",     "rate",
                          "count", "command", "text",       "hex",   "id",    "length", "checksum",
                          "ms",    "fault",   "file_chunk", "since", "limit", "what",   "path"};
    uint64_t now = 0;
    for (int round = 0; round < 3000; ++round) {
        now += uint64_t(pick(400));
        LineSettings s{speeds[pick(4)], pick(8) != 0, false, 1, 8};
        unit.notePcSettings(s, now);
        std::vector<uint8_t> bytes;
        if (pick(2)) {
            // A plausible frame, sometimes damaged, sometimes cut short.
            uint16_t command = uint16_t(pick(25));
            std::vector<uint8_t> payload(size_t(pick(40)));
            for (auto& b : payload) b = uint8_t(pick(3) ? '0' + pick(10) : pick(256));
            bytes = encodeFrame(command, uint16_t(pick(6)), payload);
            if (!pick(5)) bytes[size_t(pick(int(bytes.size())))] ^= uint8_t(1 + pick(255));
            if (!pick(5)) bytes.resize(size_t(pick(int(bytes.size()))));
        } else {
            bytes.resize(size_t(pick(600)));
            for (auto& b : bytes) b = uint8_t(pick(4) ? pick(256) : 0x7E);
        }
        unit.onLineBytes(bytes.data(), bytes.size(), s, now);
        unit.tick(now);
        if (!pick(3)) {
            std::string req = std::string("{\"cmd\": \"") + requests[pick(26)] + "\"";
            for (int k = pick(4); k > 0; --k) req += std::string(", \"") + keys[pick(21)] + "\": " + values[pick(22)];
            req += "}";
            ControlOutcome outcome;
            Json reply;
            std::string error;
            ASSERT_TRUE(parseJson(handleControlLine(unit, req, now, outcome), reply, error)) << req;
            ASSERT_TRUE(reply.contains("ok")) << req;
        }
        unit.outputTaken(size_t(pick(4096)));
        ASSERT_LE(unit.pendingOutput().size(), kMaxPendingOutputBytes);
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace sim
