// The simulated unit as a whole: which bytes it can read at the PC's settings, the
// bootloader's image and CTS, the erase handshake, output at the wrong speed, pacing, and
// the seeded fault injector.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/Control.h"
#include "sim/FaultInjector.h"
#include "sim/LineSettings.h"
#include "sim/Pacer.h"
#include "sim/Sha256.h"
#include "sim/Unit.h"

namespace sim {
namespace {

LineSettings at(uint32_t baud, bool odd = true, int stop = 1) { return LineSettings{baud, odd, false, stop, 8}; }

class SimUnitTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/sim-unit-test-XXXXXX";
        dir_ = mkdtemp(tmpl);
        content_.setStoreDir(dir_);
        content_.loadBuiltins();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    Unit& make(Mode mode, uint32_t bootBaud = kBootloaderFastBaud) {
        UnitConfig c;
        c.mode = mode;
        c.bootBaud = bootBaud;
        c.quietGapMs = 1500;
        c.eraseMs = 3000;
        unit_ = std::make_unique<Unit>(c, content_, log_);
        return *unit_;
    }
    void feed(Unit& u, const std::vector<uint8_t>& bytes, const LineSettings& s, uint64_t now) {
        u.notePcSettings(s, now);
        u.onLineBytes(bytes.data(), bytes.size(), s, now);
    }
    std::vector<uint8_t> take(Unit& u) {
        std::vector<uint8_t> out = u.pendingOutput();
        u.outputTaken(out.size());
        return out;
    }
    uint64_t counter(Unit& u, const char* name) {
        return uint64_t(u.status().find("counters")->find(name)->get<double>());
    }

    std::string dir_;
    Content content_;
    EventLog log_;
    std::unique_ptr<Unit> unit_;
};

TEST_F(SimUnitTest, RunningUnitReadsOnlyAtItsSpeedParityAndStopBits) {
    Unit& u = make(Mode::Running);
    auto frame = encodeFrame(16, 1, {'1'});
    // 115 200, no parity, two stop bits: all noise to the unit, nothing answered.
    for (const LineSettings& wrong : {at(115200), at(38400, false), at(38400, true, 2), at(9600)}) {
        feed(u, frame, wrong, 100);
        EXPECT_TRUE(take(u).empty()) << wrong.describe();
    }
    EXPECT_EQ(counter(u, "garbled_in"), 4 * frame.size());
    feed(u, frame, at(38400), 200);
    auto reply = take(u);
    ASSERT_GE(reply.size(), kFrameHeaderBytes);
    EXPECT_EQ(reply[6], 16);
}

TEST_F(SimUnitTest, OutputReachesThePcGarbledWhenItListensElsewhere) {
    Unit& u = make(Mode::Running);
    auto frame = encodeFrame(16, 1, {'1'});
    feed(u, frame, at(38400), 100);
    u.notePcSettings(at(115200), 150);  // the PC switched before the answer went out
    u.outputTaken(0);
    std::vector<uint8_t> clean = take(u);
    ASSERT_FALSE(clean.empty());  // garbling is decided when the unit sends
    Json req = Json::object();
    req["cmd"] = "log";
    req["text"] = "hello";
    ControlOutcome outcome;
    ASSERT_TRUE(handleControl(u, req, 200, outcome).find("ok")->get<bool>());
    auto garbled = take(u);
    ASSERT_EQ(garbled.size(), kFrameHeaderBytes + 5);
    for (uint8_t b : garbled) EXPECT_NE(b, kFrameMark);
    EXPECT_EQ(counter(u, "garbled_out"), garbled.size());
}

TEST_F(SimUnitTest, BabbleKeepsComingWithoutMarksAndSwallowsTheUnitsFrames) {
    Unit& u = make(Mode::Running);
    u.notePcSettings(at(38400), 0);
    Json req = Json::object();
    req["cmd"] = "babble";
    req["on"] = true;
    req["every_ms"] = 10;
    req["bytes"] = 4;
    ControlOutcome outcome;
    const Json started = handleControl(u, req, 0, outcome);
    ASSERT_TRUE(started.find("ok")->get<bool>()) << jsonLine(started);
    feed(u, encodeFrame(16, 1, {'1'}), at(38400), 0);  // asks for an answer that never comes
    std::vector<uint8_t> line;
    for (uint64_t now = 0; now < 100; now = u.nextDeadlineMs(now + 1)) {
        u.tick(now);
        const std::vector<uint8_t> out = take(u);
        line.insert(line.end(), out.begin(), out.end());
    }
    EXPECT_EQ(line.size(), 10u * 4u) << "four bytes every 10 ms";
    for (uint8_t b : line) EXPECT_NE(b, kFrameMark);

    req["on"] = false;
    ASSERT_TRUE(handleControl(u, req, 100, outcome).find("ok")->get<bool>());
    feed(u, encodeFrame(16, 2, {'1'}), at(38400), 200);
    u.tick(300);
    EXPECT_EQ(take(u)[6], 16) << "answers again once the babble stops";
}

TEST_F(SimUnitTest, BootloaderCountsImageAndDropsCtsAfterQuietGap) {
    Unit& u = make(Mode::Bootloader, kBootloaderSlowBaud);
    EXPECT_TRUE(u.modemBits() & kModemCts);
    std::vector<uint8_t> image(249008);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i ^ (i >> 8));
    uint64_t now = 1000;
    for (size_t atByte = 0; atByte < image.size(); atByte += 16384) {
        std::vector<uint8_t> block(image.begin() + long(atByte),
                                   image.begin() + long(std::min(image.size(), atByte + 16384)));
        feed(u, block, at(57600), now);
        u.tick(now);
        now += 50;
    }
    uint64_t last = now - 50;
    u.tick(last + 1499);
    EXPECT_TRUE(u.modemBits() & kModemCts);
    EXPECT_EQ(u.nextDeadlineMs(last + 1499), last + 1500);
    u.tick(last + 1500);
    EXPECT_FALSE(u.modemBits() & kModemCts);
    const ImageReport& r = u.lastImage();
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(u.status().find("display")->get<std::string>(), "(249008)");
    EXPECT_EQ(r.bytes, 249008u);
    EXPECT_EQ(r.garbledBytes, 0u);
    EXPECT_EQ(r.sha256, sha256Hex(image.data(), image.size()));
    // Until ENTER the count stays on the display and new bytes are not counted.
    feed(u, image, at(57600), last + 2000);
    u.tick(last + 9000);
    EXPECT_EQ(u.lastImage().bytes, 249008u);
    // ENTER restarts the unit into its software: the packet link at 38 400, CTS off.
    u.pressEnter(last + 9000);
    EXPECT_EQ(u.mode(), Mode::Running);
    EXPECT_FALSE(u.modemBits() & kModemCts);
    EXPECT_EQ(u.lastImage().bytes, 249008u);
}

TEST_F(SimUnitTest, ImageSentAtTheWrongSpeedIsReportedGarbled) {
    Unit& u = make(Mode::Bootloader, kBootloaderFastBaud);
    std::vector<uint8_t> block(4000, 0x42);
    feed(u, block, at(38400), 100);  // the program forgot to switch
    feed(u, block, at(115200), 120);
    u.tick(5000);
    EXPECT_EQ(u.lastImage().bytes, 4000u);
    EXPECT_EQ(u.lastImage().garbledBytes, 4000u);
    Json j = u.lastImage().toJson();
    EXPECT_TRUE(member(j, "garbled")->get<bool>());
}

TEST_F(SimUnitTest, EraseAnswersAfterItsDurationWithTheChosenFault) {
    struct Case {
        EraseFault fault;
        std::vector<uint8_t> reply;
    } cases[] = {{EraseFault::None, {0x07, 0x06}},
                 {EraseFault::WrongPairFirst, {0x06, 0x07, 0x07, 0x06}},
                 {EraseFault::StrayByte, {0x00, 0x07, 0x06}},
                 {EraseFault::Never, {}}};
    for (const Case& c : cases) {
        Unit& u = make(Mode::Running);
        u.settings().eraseFault = c.fault;
        feed(u, {0x07}, at(115200), 100);  // the request may arrive split
        feed(u, {0x06}, at(115200), 101);
        u.tick(101 + kEraseConfirmMs - 1);
        EXPECT_FALSE(u.erase().erasing());
        u.tick(101 + kEraseConfirmMs);  // nothing followed: it was a request
        EXPECT_TRUE(u.erase().erasing());
        uint64_t done = 101 + kEraseConfirmMs + 3000;
        u.tick(done - 1);
        EXPECT_TRUE(take(u).empty());
        u.tick(done);
        EXPECT_EQ(take(u), c.reply) << eraseFaultName(c.fault);
        EXPECT_FALSE(u.erase().erasing());
        EXPECT_EQ(u.erase().completed(), 1u);
    }
    // A frame cut short before an erase does not keep the unit awake during the erase.
    {
        Unit& v = make(Mode::Running);
        auto frame = encodeFrame(16, 1, {'1'});
        feed(v, std::vector<uint8_t>(frame.begin(), frame.begin() + 4), at(38400), 100);
        feed(v, {0x07, 0x06}, at(115200), 110);
        v.tick(110 + kEraseConfirmMs);
        ASSERT_TRUE(v.erase().erasing());
        EXPECT_EQ(v.nextDeadlineMs(1000), 110 + kEraseConfirmMs + 3000);
    }
    // The request at the running speed is not an erase, nor are the two bytes at the head
    // of other traffic at 115 200 (an image sent to a running unit is noise to it).
    Unit& u = make(Mode::Running);
    feed(u, {0x07, 0x06}, at(38400), 100);
    feed(u, {0x07, 0x06, 0x55, 0x07, 0x06, 0x01}, at(115200), 500);
    u.tick(5000);
    EXPECT_FALSE(u.erase().erasing());
    EXPECT_EQ(u.erase().requests(), 0u);
    EXPECT_EQ(counter(u, "garbled_in"), 6u);
}

TEST_F(SimUnitTest, BootloaderAt115200TellsEraseFromAnImageThatStartsAlike) {
    Unit& u = make(Mode::Bootloader, kBootloaderFastBaud);
    feed(u, {0x07, 0x06}, at(115200), 100);
    u.tick(100 + kEraseConfirmMs - 1);
    EXPECT_FALSE(u.erase().erasing());
    u.tick(100 + kEraseConfirmMs);
    EXPECT_TRUE(u.erase().erasing());

    Unit& v = make(Mode::Bootloader, kBootloaderFastBaud);
    feed(v, {0x07, 0x06}, at(115200), 100);
    feed(v, {0x01, 0x02, 0x03}, at(115200), 150);
    v.tick(5000);
    EXPECT_FALSE(v.erase().erasing());
    std::vector<uint8_t> all = {0x07, 0x06, 0x01, 0x02, 0x03};
    EXPECT_EQ(v.lastImage().bytes, 5u);
    EXPECT_EQ(v.lastImage().sha256, sha256Hex(all.data(), all.size()));
}

TEST_F(SimUnitTest, OffUnitIgnoresEverythingAndDropsItsLines) {
    Unit& u = make(Mode::Off);
    EXPECT_EQ(u.modemBits(), 0u);
    feed(u, encodeFrame(16, 1, {'1'}), at(38400), 100);
    EXPECT_TRUE(take(u).empty());
    EXPECT_EQ(counter(u, "ignored_in"), 11u);
}

TEST(SimLineJudge, BacklogAtASpeedChangeKeepsTheOldSpeedUntilDrained) {
    LineJudge j;
    j.observe(at(115200));
    j.afterRead(3000);  // the end of the image still waiting at the last check
    j.observe(at(38400));
    EXPECT_EQ(j.previous().baud, 115200u);
    EXPECT_EQ(j.takePrevious(2000), 2000u);
    j.afterRead(1500);
    j.observe(at(57600));  // a second change while draining does not move the backlog
    EXPECT_EQ(j.previous().baud, 115200u);
    EXPECT_EQ(j.takePrevious(1500), 1500u);
    j.afterRead(0);
    EXPECT_EQ(j.takePrevious(10), 0u);
    // With nothing waiting, bytes after a change belong to the new speed.
    j.observe(at(115200));
    EXPECT_EQ(j.takePrevious(100), 0u);
    EXPECT_EQ(j.current().baud, 115200u);
}

TEST(SimPacer, HoldsElevenBitsPerByte) {
    Pacer p;
    uint64_t t = 1000000;
    size_t total = p.allowance(t, 115200);
    p.consume(total);
    for (int step = 0; step < 1000; ++step) {
        t += 1000;  // 1 ms steps for one second
        size_t n = p.allowance(t, 115200);
        p.consume(n);
        total += n;
    }
    EXPECT_NEAR(double(total), 115200.0 / 11, 20);
    EXPECT_GT(p.waitUs(t, 115200), 0u);
}

TEST(SimFaults, SeededRatesRepeatExactlyAndAtFiresOnItsFrame) {
    auto run = [](uint64_t seed) {
        FaultInjector f(seed);
        std::string error;
        Json rule = Json::object();
        rule["kind"] = "corrupt_byte";
        rule["rate"] = 0.3;
        EXPECT_TRUE(f.add(rule, error));
        std::vector<int> pattern;
        for (int i = 0; i < 200; ++i) pattern.push_back(f.decide(11) ? int(f.next(100)) : -1);
        return pattern;
    };
    auto a = run(7), b = run(7), c = run(8);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    int fired = 0;
    for (int v : a) fired += v >= 0;
    EXPECT_GT(fired, 30);
    EXPECT_LT(fired, 90);

    FaultInjector f;
    std::string error;
    Json rule = Json::object();
    rule["kind"] = "drop_reply";
    rule["at"] = 3;
    rule["count"] = 2;
    rule["command"] = 17;
    ASSERT_TRUE(f.add(rule, error));
    std::vector<bool> hits;
    for (uint16_t cmd : {17, 6, 17, 17, 17, 17}) hits.push_back(f.decide(cmd) != nullptr);
    EXPECT_EQ(hits, (std::vector<bool>{false, false, false, true, true, false}));

    Json wrong = Json::object();
    wrong["kind"] = "wrong_sum";
    wrong["at"] = 1;
    ASSERT_TRUE(f.add(wrong, error));
    EXPECT_EQ(f.decide(11), nullptr);  // only the end-of-send echoes
    EXPECT_NE(f.decide(12), nullptr);
    for (const char* bad :
         {R"({"kind": "melt", "at": 1})", R"({"kind": "noise"})", R"({"kind": "noise", "rate": 2})"}) {
        Json j;
        ASSERT_TRUE(parseJson(bad, j, error));
        error.clear();
        EXPECT_EQ(f.add(j, error), 0) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST_F(SimUnitTest, ControlRequestsAnswerOneLineAndRejectBadInput) {
    Unit& u = make(Mode::Off);
    ControlOutcome outcome;
    auto ask = [&](const std::string& line) {
        Json reply;
        std::string error;
        EXPECT_TRUE(parseJson(handleControlLine(u, line, 10, outcome), reply, error)) << line;
        return reply;
    };
    EXPECT_FALSE(ask("not json").find("ok")->get<bool>());
    EXPECT_FALSE(ask(R"({"cmd": "nonsense"})").find("ok")->get<bool>());
    EXPECT_FALSE(ask(R"({"cmd": "mode", "mode": "bootloader", "baud": 9600})").find("ok")->get<bool>());
    EXPECT_TRUE(ask(R"({"cmd": "mode", "mode": "bootloader", "baud": 57600})").find("ok")->get<bool>());
    EXPECT_EQ(u.unitBaud(), 57600u);
    EXPECT_TRUE(u.modemBits() & kModemCts);
    EXPECT_TRUE(ask(R"({"cmd": "cts", "on": false})").find("ok")->get<bool>());
    EXPECT_FALSE(u.modemBits() & kModemCts);
    Json status = ask(R"({"cmd": "status"})");
    EXPECT_EQ(member(status, "mode")->get<std::string>(), "bootloader");
    EXPECT_TRUE(member(status, "line")->contains("parity_odd"));
    EXPECT_FALSE(ask(R"({"cmd": "config", "file_chunk": 600})").find("ok")->get<bool>());
    EXPECT_FALSE(ask(R"({"cmd": "send", "command": 3, "hex": "7g"})").find("ok")->get<bool>());
    EXPECT_TRUE(ask(R"({"cmd": "fault", "kind": "noise", "rate": 0.5})").find("ok")->get<bool>());
    EXPECT_TRUE(ask(R"({"cmd": "faults_clear"})").find("ok")->get<bool>());

    // The trace holds the frames both ways, with their fields; events can be read from a point.
    ask(R"({"cmd": "mode", "mode": "running"})");
    uint64_t since = uint64_t(ask(R"({"cmd": "events", "limit": 1})").find("last_seq")->get<double>());
    feed(u, encodeFrame(21, 1, {'1'}), at(38400), 20);
    feed(u, encodeFrame(16, 2, {'1'}), at(38400), 30);
    Json trace = ask(R"({"cmd": "trace", "since": )" + std::to_string(since) + "}");
    std::vector<std::string> seen;
    for (const Json& f : *member(trace, "frames"))
        seen.push_back(member(f, "event")->get<std::string>() + " " + jsonLine(*member(f, "command")));
    EXPECT_EQ(seen, (std::vector<std::string>{"frame_in 21", "frame_out 13", "frame_in 16", "frame_out 16"}));
    const Json& first = member(trace, "frames")->at(0);
    EXPECT_EQ(member(first, "payload_hex")->get<std::string>(), "31");
    EXPECT_TRUE(member(first, "checksum_ok")->get<bool>());
    EXPECT_EQ(ask(R"({"cmd": "events", "since": 0, "limit": 3})").find("events")->size(), 3u);
    EXPECT_FALSE(outcome.quit);
    ask(R"({"cmd": "quit"})");
    EXPECT_TRUE(outcome.quit);
}

// A line of units: each drops CTS after its image and the next comes up after the gap; one
// that never confirms keeps CTS up until it is switched off; one cut mid-image goes off at
// once; the report says what each received.
TEST_F(SimUnitTest, ALineOfUnitsComesAndGoesWithEachUnitsFault) {
    UnitConfig c;
    c.quietGapMs = 300;
    c.line.units = 3;
    c.line.gapMs = 2000;
    c.line.holdMs = 5000;
    std::string error;
    ASSERT_TRUE(parseLineFault("2:never_confirm", c.line, error)) << error;
    ASSERT_TRUE(parseLineFault("3:drop_mid_image:1000", c.line, error)) << error;
    EXPECT_FALSE(parseLineFault("0:never_confirm", c.line, error));
    EXPECT_FALSE(parseLineFault("2:drop_mid_image:x", c.line, error));
    unit_ = std::make_unique<Unit>(c, content_, log_);
    Unit& u = *unit_;
    const std::vector<uint8_t> image(600, 0x42);
    auto cts = [&u] { return (u.modemBits() & kModemCts) != 0; };
    auto run = [&u](uint64_t from, uint64_t to) {
        for (uint64_t t = from; t <= to; t += 10) u.tick(t);
    };
    EXPECT_TRUE(cts());  // the first unit waits in its bootloader
    feed(u, image, at(115200), 100);
    run(100, 500);
    EXPECT_FALSE(cts());  // took its image, dropped CTS
    run(500, 2500);
    EXPECT_TRUE(cts());  // the second unit is up
    feed(u, image, at(115200), 2600);
    run(2600, 7000);
    EXPECT_TRUE(cts());  // never confirms ...
    run(7000, 8000);
    EXPECT_FALSE(cts());  // ... until switched off
    run(8000, 10100);
    EXPECT_TRUE(cts());
    feed(u, std::vector<uint8_t>(1200, 0x42), at(115200), 10200);
    u.tick(10200);
    EXPECT_FALSE(cts());  // went off mid-image
    run(10200, 13000);
    EXPECT_FALSE(cts());  // the line is over
    Json line = u.line().report();
    const Json& history = *line.find("history");
    ASSERT_EQ(history.size(), 3u);
    EXPECT_EQ(history[0].find("sha256")->get<std::string>(), sha256Hex(image.data(), image.size()));
    EXPECT_TRUE(history[0].find("finished")->get<bool>());
    EXPECT_EQ(history[1].find("fault")->get<std::string>(), "never_confirm");
    EXPECT_FALSE(history[2].find("finished")->get<bool>());
    EXPECT_EQ(history[2].find("bytes")->get<double>(), 1200);
}

}  // namespace
}  // namespace sim
