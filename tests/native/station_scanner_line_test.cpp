// A serial-mode scanner's reader on a fake clock and port: its bytes split into codes, the
// line set as configured, a scanner unplugged told once and read again once it is back.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakePort.h"
#include "station/ScannerLine.h"

namespace {

std::vector<std::string> Split(station::CodeLines& lines, const std::string& bytes) {
    return lines.Take(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

struct Heard : station::ScanTarget {
    std::vector<std::string> codes;
    std::vector<std::string> told;
    void Scanned(const std::string& code) override { codes.push_back(code); }
    void Tell(const std::string& text) override { told.push_back(text); }
};

// Takes the framing it is given; a handle whose device went away stays dead.
class ScannerPort final : public fake::PortLoan {
public:
    ScannerPort(fake::FakePort& port, serial::LineFraming* set, bool* dead, std::function<bool()> out)
        : PortLoan(port), set_(set), dead_(dead), out_(std::move(out)) {}
    serial::PortStatus SetLine(const serial::LineFraming& line) override {
        *set_ = line;
        return {};
    }
    serial::PortStatus Read(uint8_t* buffer, size_t size, uint32_t timeoutMs, size_t* count) override {
        *count = 0;
        if (out_()) *dead_ = true;
        if (*dead_) return {serial::PortError::Gone, "the device hung up"};
        // A read never waits past the moment the device goes.
        return port_.Read(buffer, size, timeoutMs, count);
    }

private:
    serial::LineFraming* set_;
    bool* dead_;
    std::function<bool()> out_;
};

}  // namespace

TEST(StationScannerLine, CodesEndAtCrLfOrBothAndAnEndlessLineIsKeptJustPastTheLimit) {
    station::CodeLines lines;
    EXPECT_EQ(Split(lines, "A1\rB2\nC3\r\n\r\n\nD4"), (std::vector<std::string>{"A1", "B2", "C3"}));
    EXPECT_EQ(Split(lines, "5\r"), (std::vector<std::string>{"D45"}));
    Split(lines, std::string(1000, 'X'));
    const std::vector<std::string> overlong = Split(lines, "\n");
    ASSERT_EQ(overlong.size(), 1u);
    EXPECT_EQ(overlong[0].size(), station::kMaxCodeLength + 1);
    Split(lines, "half a co");
    lines.Clear();  // a scanner lost mid-line: what it had sent is not a code
    EXPECT_EQ(Split(lines, "de\r"), (std::vector<std::string>{"de"}));
}

TEST(StationScannerLine, AScannerUnpluggedIsToldLostOnceAndReadAgainOnceBack) {
    fake::FakeClock clock;
    fake::FakePort port(clock, "/dev/ttyACM0");
    const uint64_t t0 = clock.NowMs();
    constexpr uint64_t kOutFromMs = 1000, kBackAtMs = 7000;
    port.Arrive(t0 + 200, Bytes("SN-1\r\nSN-"));
    port.Arrive(t0 + 300, Bytes("2\r\nhalf"));  // "half" is cut off by the unplugging
    port.Arrive(t0 + kBackAtMs + 1000, Bytes("\nSN-3\r\n"));
    serial::LineFraming set, wanted;
    wanted.baud = 19200;
    wanted.parity = serial::Parity::Even;
    std::atomic<bool> stop{false};
    size_t opens = 0;
    struct Target final : Heard {
        std::atomic<bool>* stop = nullptr;
        void Scanned(const std::string& code) override {
            Heard::Scanned(code);
            if (code == "SN-3") *stop = true;
        }
    } heard;
    heard.stop = &stop;
    auto out = [&] { return clock.NowMs() - t0 >= kOutFromMs && clock.NowMs() - t0 < kBackAtMs; };
    bool dead = false;
    station::ScannerContext context;
    context.device = "/dev/ttyACM0";
    context.framing = wanted;
    context.clock = &clock;
    context.target = &heard;
    context.stop = &stop;
    context.open = [&](const std::string&, serial::PortStatus* status) -> std::unique_ptr<serial::SerialPort> {
        if (out()) {
            *status = {serial::PortError::NoSuchPort, "No such file or directory"};
            return nullptr;
        }
        ++opens;
        dead = false;
        port.closed = false;
        return std::make_unique<ScannerPort>(port, &set, &dead, out);
    };
    station::RunScanner(context);
    EXPECT_EQ(heard.codes, (std::vector<std::string>{"SN-1", "SN-2", "SN-3"}));
    EXPECT_EQ(heard.told, (std::vector<std::string>{"scanner lost (/dev/ttyACM0: device is gone (the device hung up))",
                                                    "scanner /dev/ttyACM0 is back"}));
    EXPECT_EQ(opens, 2u);
    EXPECT_EQ(set.baud, 19200u);
    EXPECT_EQ(set.parity, serial::Parity::Even);
    EXPECT_TRUE(port.closed);
}
