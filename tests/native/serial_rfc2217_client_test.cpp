// The RFC 2217 client and its telnet decoder against a fake server written out byte by byte
// here, and the network port (pacing, close, a server's last bytes and its reset) over a fake
// socket on a fake clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "FakePort.h"
#include "serial/LinePacer.h"
#include "serial/LineSpeeds.h"
#include "serial/NetworkPortName.h"
#include "serial/NetworkSerialPort.h"
#include "serial/Rfc2217Client.h"
#include "serial/TelnetCodec.h"

namespace {

using Bytes = std::vector<uint8_t>;
using serial::PortError;
using serial::Rfc2217Client;

constexpr uint8_t IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254, COM = 44;
constexpr uint64_t kT0 = 1000;
constexpr uint32_t kBaud = 38400;

Bytes Sub(Bytes payload) {
    Bytes out{IAC, SB, COM};
    out.insert(out.end(), payload.begin(), payload.end());
    out.insert(out.end(), {IAC, SE});
    return out;
}
Bytes SpeedAnswer(uint32_t baud) {
    return Sub({101, uint8_t(baud >> 24), uint8_t(baud >> 16), uint8_t(baud >> 8), uint8_t(baud)});
}
Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}
// A well-behaved server's answers to the opening settings, the mask answered by 111.
Bytes AllAnswers(uint32_t baud = kBaud, Bytes maskAnswer = Sub({111, 0x11})) {
    return Concat({SpeedAnswer(baud), Sub({102, 8}), Sub({103, 2}), Sub({104, 1}), Sub({105, 1}), maskAnswer});
}
bool Contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

struct Session {
    Rfc2217Client client{"unitserver:4001"};
    Bytes data;
    Session() { client.Start(kBaud, kT0); }
    void Feed(const Bytes& bytes, uint64_t now = kT0) { client.Receive(bytes.data(), bytes.size(), now, &data); }
    void Agree() { Feed({IAC, DO, COM}); }
    void Ready() {
        Agree();
        Feed(AllAnswers());
        ASSERT_TRUE(client.Settled());
        client.Outgoing().clear();
    }
};

TEST(SerialRfc2217, OffersComPortThenAsksEverySettingTogether) {
    Session s;
    EXPECT_TRUE(Contains(s.client.Outgoing(), {IAC, WILL, COM}));
    EXPECT_FALSE(Contains(s.client.Outgoing(), {IAC, SB}));
    s.Agree();
    const Bytes& out = s.client.Outgoing();
    EXPECT_TRUE(Contains(out, Sub({1, 0, 0, 0x96, 0})));  // 38400
    EXPECT_TRUE(Contains(out, Sub({2, 8})));
    EXPECT_TRUE(Contains(out, Sub({3, 2})));  // odd
    EXPECT_TRUE(Contains(out, Sub({4, 1})));
    EXPECT_TRUE(Contains(out, Sub({5, 1})));      // no flow control
    EXPECT_TRUE(Contains(out, Sub({11, 0x11})));  // CTS and its change
    EXPECT_FALSE(s.client.Settled());
    // Every answer in one stream, split one byte per read.
    for (uint8_t byte : AllAnswers()) s.Feed({byte});
    EXPECT_TRUE(s.client.Settled());
    EXPECT_FALSE(s.client.Failed());
    EXPECT_TRUE(s.data.empty());
}

TEST(SerialRfc2217, DataEscapedBothWaysAndUnknownOptionsRefused) {
    Session s;
    s.Ready();
    const Bytes payload{0x01, 0xFF, 0x02, 0xFF, 0xFF};
    s.client.SendData(payload.data(), payload.size());
    EXPECT_EQ(s.client.Outgoing(), (Bytes{0x01, 0xFF, 0xFF, 0x02, 0xFF, 0xFF, 0xFF, 0xFF}));
    s.client.Outgoing().clear();
    // Data with doubled 0xFF, an unknown option offered and asked, an unknown sub-negotiation.
    s.Feed({0x41, IAC, IAC, IAC, WILL, 99, 0x42, IAC, DO, 98, IAC, SB, 77, 1, 2, IAC, SE, 0x43});
    EXPECT_EQ(s.data, (Bytes{0x41, 0xFF, 0x42, 0x43}));
    EXPECT_EQ(s.client.Outgoing(), (Bytes{IAC, DONT, 99, IAC, WONT, 98}));
    s.client.Outgoing().clear();
    s.Feed({IAC, WILL, 99});
    EXPECT_TRUE(s.client.Outgoing().empty()) << "a refusal is said once";
}

TEST(SerialRfc2217, SilentServerFailsWithinTheBoundNamingSettingAndServer) {
    Session s;
    s.Agree();
    s.Feed(Concat({SpeedAnswer(kBaud), Sub({102, 8}), Sub({104, 1}), Sub({105, 1}), Sub({111, 0x11})}));
    EXPECT_EQ(s.client.NextDeadlineMs(), kT0 + serial::kServerAnswerBoundMs);
    s.client.Tick(kT0 + serial::kServerAnswerBoundMs - 1);
    EXPECT_FALSE(s.client.Failed());
    s.client.Tick(kT0 + serial::kServerAnswerBoundMs);
    ASSERT_TRUE(s.client.Failed());
    EXPECT_EQ(s.client.Failure().error, PortError::TimedOut);
    EXPECT_NE(s.client.Failure().text.find("parity (odd)"), std::string::npos) << s.client.Failure().text;
    EXPECT_NE(s.client.Failure().text.find("unitserver:4001"), std::string::npos);
    EXPECT_EQ(s.client.Failure().text.find("speed"), std::string::npos) << "only the missing one is named";
}

TEST(SerialRfc2217, OtherValueInAnswerNamesBoth) {
    Session s;
    s.Agree();
    s.Feed(AllAnswers(9600));
    ASSERT_TRUE(s.client.Failed());
    EXPECT_EQ(s.client.Failure().text, "the server unitserver:4001 set the speed to 9600 baud, not 38400 baud");
}

TEST(SerialRfc2217, ModemStateAnswersTheMaskAndCtsFollowsEveryNotification) {
    Session s;
    s.Agree();
    s.Feed(AllAnswers(kBaud, Sub({107, 0x11})));  // the state instead of 111
    EXPECT_TRUE(s.client.Settled());
    EXPECT_TRUE(s.client.Cts());
    s.Feed(Sub({107, 0x01}));
    EXPECT_FALSE(s.client.Cts());
    // A server that polls its lines once a second tells of a rise late; CTS is simply the
    // last state told, whenever it comes.
    s.client.Tick(kT0 + 900);
    EXPECT_FALSE(s.client.Cts());
    s.Feed(Sub({107, 0x11}), kT0 + 1100);
    EXPECT_TRUE(s.client.Cts());
    EXPECT_FALSE(s.client.Failed());
}

TEST(SerialRfc2217, OnlyTheFlowControlAnswerAnswersFlowControl) {
    Session s;
    s.Agree();
    // The DTR and RTS answers share the flow control's command and may come first.
    s.Feed(Concat({SpeedAnswer(kBaud), Sub({102, 8}), Sub({103, 2}), Sub({104, 1}), Sub({105, 8}), Sub({105, 11}),
                   Sub({105, 1}), Sub({111, 0x11})}));
    EXPECT_FALSE(s.client.Failed()) << s.client.Failure().text;
    EXPECT_TRUE(s.client.Settled());
}

TEST(SerialRfc2217, UnitBytesInTheReadOfTheLastAnswerAreTheUnits) {
    Session s;
    s.Agree();
    s.Feed(Concat({AllAnswers(), {0x41, 0x42}}));
    ASSERT_TRUE(s.client.Settled());
    EXPECT_EQ(s.data, (Bytes{0x41, 0x42}));
}

TEST(SerialRfc2217, RefusalAndBusyTextAreTheReason) {
    Session refused;
    refused.Feed({IAC, DONT, COM});
    ASSERT_TRUE(refused.client.Failed());
    EXPECT_EQ(refused.client.Failure().error, PortError::NotSerial);
    EXPECT_NE(refused.client.Failure().text.find("socket://unitserver:4001"), std::string::npos);

    Session busy;
    busy.Feed({'P', 'o', 'r', 't', ' ', 'a', 'l', 'r'});
    busy.Feed({'e', 'a', 'd', 'y', ' ', 'i', 'n', ' ', 'u', 's', 'e', '\r', '\n'});
    busy.client.Closed();
    ASSERT_TRUE(busy.client.Failed());
    EXPECT_EQ(busy.client.Failure().error, PortError::Busy);
    EXPECT_EQ(busy.client.Failure().text, "the server unitserver:4001 says \"Port already in use\"");

    Session busyShort;  // the other wording servers use
    const std::string words = "Port busy\r\n";
    busyShort.Feed(Bytes(words.begin(), words.end()));
    busyShort.client.Closed();
    EXPECT_EQ(busyShort.client.Failure().error, PortError::Busy) << busyShort.client.Failure().text;

    Session raw;  // a raw port echoes nothing and never negotiates
    raw.client.Tick(kT0 + serial::kServerAnswerBoundMs);
    ASSERT_TRUE(raw.client.Failed());
    EXPECT_NE(raw.client.Failure().text.find("socket://"), std::string::npos);

    Session lost;
    lost.Ready();
    lost.client.Closed();
    EXPECT_EQ(lost.client.Failure().error, PortError::Gone);

    // A connection dropped before the line is set, the server having said nothing: the
    // socket's own reason stands.
    Session reset;
    reset.Agree();
    serial::PortStatus dropped;
    dropped.error = PortError::Gone;
    dropped.text = "connection reset by peer";
    reset.client.Lost(dropped);
    ASSERT_TRUE(reset.client.Failed());
    EXPECT_EQ(reset.client.Failure().error, PortError::Gone);
    EXPECT_EQ(reset.client.Failure().text, "connection reset by peer");
}

TEST(SerialTelnetCodec, AnOverlongSubnegotiationIsDroppedAloneAndStopsAtEachCommand) {
    serial::telnet::Decoder decoder;
    Bytes stream{IAC, SB, COM};
    stream.insert(stream.end(), serial::telnet::kMaxSubnegotiationBytes + 1, 7);
    stream = Concat({stream, {IAC, SE, 0x41}, Sub({105, 1}), {0x42}});
    Bytes data;
    std::vector<serial::telnet::Command> commands;
    std::optional<serial::telnet::Command> command;
    for (size_t used = 0; used < stream.size();) {
        used += decoder.Feed(stream.data() + used, stream.size() - used, &data, &command);
        if (command) {
            EXPECT_EQ(data, Bytes{0x41}) << "the data before a command is given before it";
            commands.push_back(*command);
        }
    }
    EXPECT_EQ(data, (Bytes{0x41, 0x42}));
    ASSERT_EQ(commands.size(), 1u) << "the overlong one dropped, the next one kept";
    EXPECT_EQ(commands[0].payload, (Bytes{105, 1}));
}

TEST(SerialNetworkPortName, FormsAndMistakes) {
    serial::NetworkPortAddress a;
    std::string error;
    ASSERT_TRUE(serial::ParseNetworkPortName("rfc2217://[::1]:4001", &a, &error));
    EXPECT_EQ(a.host, "::1");
    EXPECT_EQ(a.port, "4001");
    ASSERT_TRUE(serial::ParseNetworkPortName("socket://line3-server:23", &a, &error));
    EXPECT_EQ(a.kind, serial::NetworkPortKind::Raw);
    for (const char* bad : {"rfc2217://host", "rfc2217://::1:4001", "socket://:4001", "rfc2217://h:0",
                            "rfc2217://h:65536", "rfc2217://[::1]4001"}) {
        EXPECT_FALSE(serial::ParseNetworkPortName(bad, &a, &error)) << bad;
    }
}

// A server that agrees to every setting at once: enough to open an rfc2217:// port.
class AgreeingSocket final : public serial::TcpSocket {
public:
    explicit AgreeingSocket(fake::FakeClock& clock) : clock_(clock) {}
    serial::PortStatus Send(const uint8_t*, size_t size, size_t* sent) override {
        *sent = size;
        return {};
    }
    serial::PortStatus Receive(uint8_t* buffer, size_t size, size_t* count, bool* closed) override {
        *closed = false;
        *count = std::min(size, answers_.size());
        std::copy_n(answers_.begin(), *count, buffer);
        answers_.erase(answers_.begin(), answers_.begin() + static_cast<std::ptrdiff_t>(*count));
        return {};
    }
    serial::PortStatus Wait(uint32_t timeoutMs, bool) override {
        clock_.Advance(timeoutMs);
        return {};
    }

private:
    fake::FakeClock& clock_;
    Bytes answers_ = Concat({{IAC, DO, COM}, AllAnswers()});
};

// What the station and the texts ask of a port instead of its name: a network port, and one
// that tells CTS (rfc2217://) may tell it up to the server's notice latency late.
TEST(SerialNetworkPort, SaysItIsANetworkPortAndHowLateItTellsCts) {
    fake::FakeClock clock(kT0);
    serial::PortStatus status;
    auto told = serial::OpenNetworkPortOver("rfc2217://unitserver:4001", std::make_unique<AgreeingSocket>(clock), clock,
                                            &status);
    ASSERT_TRUE(told) << status.text;
    EXPECT_EQ(told->Kind(), serial::PortKind::Network);
    EXPECT_TRUE(told->HasCts());
    EXPECT_EQ(told->CtsNoticeLatencyMs(), serial::kModemNoticeLatencyMs);
    auto raw = serial::OpenNetworkPortOver("socket://unitserver:4001", std::make_unique<AgreeingSocket>(clock), clock,
                                           &status);
    ASSERT_TRUE(raw) << status.text;
    EXPECT_EQ(raw->Kind(), serial::PortKind::Network);
    EXPECT_EQ(raw->CtsNoticeLatencyMs(), 0u);
}

// A socket whose server reads everything at once; it may close, and the test sees each send
// and when the connection was let go.
class FakeSocket final : public serial::TcpSocket {
public:
    FakeSocket(fake::FakeClock& clock, std::vector<std::pair<uint64_t, size_t>>* sends, uint64_t* goneAtMs = nullptr)
        : clock_(clock), sends_(sends), goneAtMs_(goneAtMs) {}
    ~FakeSocket() override {
        if (goneAtMs_) *goneAtMs_ = clock_.NowMs();
    }
    uint64_t closeAtMs = UINT64_MAX;
    bool resets = false;  // the close comes as a reset
    Bytes incoming;       // arrives at once, before the close
    serial::PortStatus Send(const uint8_t*, size_t size, size_t* sent) override {
        sends_->emplace_back(clock_.NowMs(), size);
        *sent = size;
        return {};
    }
    serial::PortStatus Receive(uint8_t* buffer, size_t size, size_t* count, bool* closed) override {
        *count = std::min(size, incoming.size());
        std::copy_n(incoming.begin(), *count, buffer);
        incoming.erase(incoming.begin(), incoming.begin() + static_cast<std::ptrdiff_t>(*count));
        *closed = *count == 0 && clock_.NowMs() >= closeAtMs;
        if (*closed && resets) {
            *closed = false;
            return {PortError::Gone, "the connection to the server is lost: Connection reset by peer"};
        }
        return {};
    }
    serial::PortStatus Wait(uint32_t timeoutMs, bool) override {
        clock_.Advance(std::min<uint64_t>(timeoutMs, closeAtMs > clock_.NowMs() ? closeAtMs - clock_.NowMs() : 0));
        return {};
    }

private:
    fake::FakeClock& clock_;
    std::vector<std::pair<uint64_t, size_t>>* sends_;
    uint64_t* goneAtMs_;
};

TEST(SerialNetworkPort, WritesPacedAtTheLineRateAndDrainWaitsForTheLastByte) {
    fake::FakeClock clock(kT0);
    std::vector<std::pair<uint64_t, size_t>> sends;
    serial::PortStatus status;
    auto port = serial::OpenNetworkPortOver("socket://127.0.0.1:4001", std::make_unique<FakeSocket>(clock, &sends),
                                            clock, &status);
    ASSERT_TRUE(port) << status.text;
    EXPECT_FALSE(port->HasCts());
    constexpr uint32_t kFast = 115200;
    ASSERT_TRUE(port->SetBaudRate(kFast).Ok());
    const Bytes image(20000, 0x5A);
    size_t written = 0;
    ASSERT_TRUE(port->Write(image.data(), image.size(), 60000, &written).Ok());
    EXPECT_EQ(written, image.size());
    // The server's line as the test models it: bytes leave at 11 bits each.
    const double bytesPerMs = kFast / 11.0 / 1000.0;
    const size_t bound = serial::LinePacer(kFast).BoundBytes();
    EXPECT_LE(bound, bytesPerMs * 200) << "a fraction of a second of line time";
    double queued = 0;
    uint64_t last = kT0;
    for (const auto& [at, size] : sends) {
        queued = std::max(0.0, queued - (at - last) * bytesPerMs) + size;
        last = at;
        EXPECT_LE(queued, bound + 1.0) << "at " << at;
    }
    const uint64_t lineDoneMs = last + static_cast<uint64_t>(queued / bytesPerMs);
    ASSERT_TRUE(port->Drain(10000).Ok());
    EXPECT_GE(clock.NowMs(), lineDoneMs);
    EXPECT_LE(clock.NowMs(), lineDoneMs + 20);
    EXPECT_GE(clock.NowMs() - kT0, static_cast<uint64_t>(image.size() / bytesPerMs)) << "never above the line rate";
}

TEST(SerialNetworkPort, DroppedConnectionIsAGonePortWithTheBytesThatWent) {
    fake::FakeClock clock(kT0);
    std::vector<std::pair<uint64_t, size_t>> sends;
    auto socket = std::make_unique<FakeSocket>(clock, &sends);
    socket->closeAtMs = kT0 + 500;
    serial::PortStatus status;
    auto port = serial::OpenNetworkPortOver("socket://127.0.0.1:4001", std::move(socket), clock, &status);
    ASSERT_TRUE(port);
    const Bytes image(10000, 1);
    size_t written = 0;
    status = port->Write(image.data(), image.size(), 60000, &written);
    EXPECT_EQ(status.error, PortError::Gone);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, image.size());
    EXPECT_EQ(clock.NowMs(), kT0 + 500) << "noticed when it happened";
    bool on = true;
    EXPECT_FALSE(port->ReadCts(&on).Ok());
}

TEST(SerialNetworkPort, CloseLetsWrittenBytesLeaveAtTheLinePaceFirst) {
    fake::FakeClock clock(kT0);
    std::vector<std::pair<uint64_t, size_t>> sends;
    uint64_t goneAtMs = 0;
    serial::PortStatus status;
    auto port = serial::OpenNetworkPortOver("socket://127.0.0.1:4001",
                                            std::make_unique<FakeSocket>(clock, &sends, &goneAtMs), clock, &status);
    ASSERT_TRUE(port) << status.text;
    const Bytes reply(1000, 0x33);  // about 290 ms of line time at the link's speed
    size_t written = 0;
    ASSERT_TRUE(port->Write(reply.data(), reply.size(), 10000, &written).Ok());
    const uint64_t lineDoneMs =
        kT0 + reply.size() * serial::kLineBitsPerByte * common::kMsPerSecond / serial::kLinkBaudRate;
    EXPECT_LT(clock.NowMs(), lineDoneMs) << "the write returns with bytes still in flight";
    port->Close();
    EXPECT_GE(goneAtMs, lineDoneMs);
    EXPECT_LE(goneAtMs, lineDoneMs + 20);
}

TEST(SerialNetworkPort, BytesThatCameWithTheCloseAreReadBeforeThePortIsGone) {
    fake::FakeClock clock(kT0);
    std::vector<std::pair<uint64_t, size_t>> sends;
    auto socket = std::make_unique<FakeSocket>(clock, &sends);
    socket->incoming = {'E', 'N', 'D', '\r'};
    socket->closeAtMs = kT0;
    serial::PortStatus status;
    auto port = serial::OpenNetworkPortOver("socket://127.0.0.1:4001", std::move(socket), clock, &status);
    ASSERT_TRUE(port) << status.text;
    Bytes got;
    uint8_t buffer[3];
    for (;;) {
        size_t count = 0;
        status = port->Read(buffer, sizeof buffer, 1000, &count);
        if (!status.Ok()) break;
        ASSERT_GT(count, 0u) << "a read that waited its time out";
        got.insert(got.end(), buffer, buffer + count);
    }
    EXPECT_EQ(got, (Bytes{'E', 'N', 'D', '\r'}));
    EXPECT_EQ(status.error, PortError::Gone);
}

TEST(SerialNetworkPort, ABusyServerThatResetsIsABusyPortInItsOwnWords) {
    fake::FakeClock clock(kT0);
    std::vector<std::pair<uint64_t, size_t>> sends;
    auto socket = std::make_unique<FakeSocket>(clock, &sends);
    const std::string words = "Port already in use\r\n";
    socket->incoming.assign(words.begin(), words.end());
    socket->closeAtMs = kT0;
    socket->resets = true;  // it closed on our unread offers
    serial::PortStatus status;
    EXPECT_FALSE(serial::OpenNetworkPortOver("rfc2217://127.0.0.1:4001", std::move(socket), clock, &status));
    EXPECT_EQ(status.error, PortError::Busy) << status.text;
    EXPECT_NE(status.text.find("Port already in use"), std::string::npos) << status.text;
}

}  // namespace
