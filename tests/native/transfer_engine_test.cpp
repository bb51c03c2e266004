// The transfer engine on a fake clock, grouped by transfer: the link's resends and give-up,
// the NLEC and file transfers' packet sequences, and what a failed or stopped receive leaves.
#include "transfer/TransferEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "link/Frame.h"
#include "tests/native/FakePort.h"

using namespace transfer;
namespace fs = std::filesystem;

using namespace packetlink;

namespace {

constexpr uint64_t kTenSecondsMs = 10000;
constexpr char kLongValue[] = "0123456789012345678901234567890123456789";  // an NLEC line's value
// An NLEC table this many times the C library's read buffer ends well past the first read.
constexpr size_t kReadBuffersPerTable = 4;

struct Sent {
    uint16_t command;
    std::string payload;
};

// Records what the engine asks for; "box:" lines are the reports the operator reads.
class Recorder final : public TransferListener {
public:
    std::vector<Sent> sent;
    std::vector<std::string> events;
    std::vector<SessionEnd> ends;
    std::map<Operation, bool> armed;  // whose control stops its session
    std::vector<uint64_t> done;       // each progress advance, as told

    void SendFrame(const uint8_t* bytes, size_t count) override {
        PacketHeader h{};
        std::memcpy(&h, bytes, kHeaderSize);
        EXPECT_EQ(count, kHeaderSize + h.length) << "one whole frame per write";
        sent.push_back(
            {h.command, std::string(reinterpret_cast<const char*>(bytes) + kHeaderSize, count - kHeaderSize)});
    }
    void Log(const std::string& line, std::error_code error) override {
        events.push_back("log:" + line);
        if (error) events.push_back("os:" + std::to_string(error.value()));
    }
    void AppendLine(const std::string& line) override { events.push_back("line:" + line); }
    void Notice(common::NoticeKind kind, const std::string& text) override {
        events.push_back(kind == common::NoticeKind::Alert ? "beep" : "box:" + text);
    }
    void ProgressStart(uint64_t total) override { events.push_back("bar:" + std::to_string(total)); }
    void ProgressAdvance(uint64_t steps) override { done.push_back(steps); }
    void ProgressEnd() override {}
    void StopArmed(Operation operation) override { armed[operation] = true; }
    void StopReleased(Operation operation) override { armed[operation] = false; }
    void SessionEnded(const SessionEnd& end) override { ends.push_back(end); }

    bool Has(const std::string& event) const {
        for (const auto& e : events)
            if (e == event) return true;
        return false;
    }
    bool HasEnding(const std::string& start, const std::string& end) const {
        for (const auto& e : events)
            if (e.rfind(start, 0) == 0 && e.size() >= end.size() &&
                e.compare(e.size() - end.size(), end.size(), end) == 0)
                return true;
        return false;
    }
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("engine_test_" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string Write(const std::string& name, const std::string& data) {
        std::ofstream(folder_ / name, std::ios::binary) << data;
        return (folder_ / name).string();
    }
    std::string Read(const std::string& path) const {
        std::stringstream s;
        s << std::ifstream(path, std::ios::binary).rdbuf();
        return s.str();
    }
    size_t FilesInFolder() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()));
    }
    // The unit's packet, through the engine's receiver.
    void Unit(uint16_t command, const std::string& payload) { UnitTo(engine_, command, payload); }
    void UnitTo(TransferEngine& engine, uint16_t command, const std::string& payload) {
        const auto frame = EncodeFrame(command, ++unitId_, reinterpret_cast<const uint8_t*>(payload.data()),
                                       static_cast<uint16_t>(payload.size()));
        engine.ReceiveBytes(frame.data(), frame.size());
    }
    void Wait(uint64_t ms) {
        clock_.Advance(ms);
        engine_.Tick();
    }
    const Sent& Last() const { return ui_.sent.back(); }

    fs::path folder_;
    fake::FakeClock clock_;
    Recorder ui_;
    TransferEngine engine_{ui_, SystemFiles(), clock_};
    uint16_t unitId_ = 0;
};

// --- the link

TEST_F(EngineTest, ReplyOverdueAfterMoreThan500MsIsResentSixTimesThenGivenUp) {
    ASSERT_TRUE(engine_.Start({Operation::SendSettings, Write("s.bin", "abc")}));
    ASSERT_EQ(ui_.sent.size(), 1u);
    EXPECT_EQ(Last().payload, "25,294,3,");
    Wait(500);
    EXPECT_EQ(ui_.sent.size(), 1u) << "500 ms is not yet overdue";
    for (int resend = 1; resend <= 6; ++resend) {
        Wait(501);
        ASSERT_EQ(ui_.sent.size(), 1u + resend);
        EXPECT_EQ(Last().payload, "25,294,3,");
        EXPECT_EQ(engine_.Status().retryCount, resend);
    }
    Wait(501);
    EXPECT_EQ(ui_.sent.size(), 7u) << "the give-up sends nothing";
    EXPECT_FALSE(engine_.SessionActive());
    EXPECT_TRUE(ui_.Has("box:Binary Test transfer failure. Retry count exceeded."));
    EXPECT_FALSE(ui_.armed[Operation::SendSettings]);
    ASSERT_EQ(ui_.ends.size(), 1u);
    EXPECT_EQ(ui_.ends[0].result, SessionResult::RetryExhausted);
    Unit(10, "");  // a late request finds no file to send from
    EXPECT_EQ(ui_.sent.size(), 7u);
}

TEST_F(EngineTest, AFrameSilentForMoreThan100MsIsDroppedAndThePacketResent) {
    ASSERT_TRUE(engine_.Start({Operation::GetNlec, (folder_ / "t.txt").string()}));
    const auto frame = EncodeFrame(16, 1, reinterpret_cast<const uint8_t*>("3"), 1);
    engine_.ReceiveBytes(frame.data(), 5);
    Wait(100);
    EXPECT_EQ(ui_.sent.size(), 1u);
    Wait(1);
    EXPECT_TRUE(ui_.Has("log:WM_TIMER2 calling RS232_ResendPacket"));
    ASSERT_EQ(ui_.sent.size(), 2u);
    EXPECT_EQ(Last().command, 16);
    engine_.ReceiveBytes(frame.data() + 5, frame.size() - 5);  // the rest alone is no frame
    EXPECT_EQ(ui_.sent.size(), 2u);
}

TEST_F(EngineTest, FramesThatDrawNoReplyKeepTheReplyTimedFromTheLastSend) {
    ASSERT_TRUE(engine_.Start({Operation::SendSettings, Write("s.bin", "abc")}));
    clock_.Advance(300);
    Unit(3, "unit says hello");
    Unit(99, "unknown");
    EXPECT_TRUE(ui_.HasEnding("log:LOG:  Id=1, Cmd=3,", "buf(15)=unit says hello"));
    EXPECT_TRUE(ui_.HasEnding("log:ERROR Unknown Command:  Id=2, Cmd=99,", "=unknown"));
    Wait(200);
    EXPECT_EQ(ui_.sent.size(), 1u);
    Wait(1);
    EXPECT_EQ(ui_.sent.size(), 2u) << "resent 501 ms after its send, not after the log frame";
}

TEST_F(EngineTest, NoiseFalseMarksAndOversizeHeadersNeverStopTheTransfer) {
    ASSERT_TRUE(engine_.Start({Operation::SendSettings, Write("s.bin", "abc")}));
    // A lone mark, then a header that claims more than a frame can hold.
    const uint8_t junk[] = {0x00, 0x7E, 0x41, 0x7E, 0x7E, 0, 0, 0xFF, 0x7F, 10, 0, 1, 0};
    engine_.ReceiveBytes(junk, sizeof junk);
    Unit(10, "");
    ASSERT_EQ(ui_.sent.size(), 2u);
    EXPECT_EQ(Last().command, 11);
    EXPECT_EQ(Last().payload, "abc");
}

TEST_F(EngineTest, ChecksumsAndTheUnitsResendRequestsResendTheLastPacket) {
    engine_.SendFixedRequest();
    EXPECT_EQ(Last().command, 19);
    EXPECT_EQ(Last().payload, "731942");
    auto frame = EncodeFrame(10, 1, nullptr, 0);
    frame[2] ^= 1;  // a checksum that does not match
    engine_.ReceiveBytes(frame.data(), frame.size());
    Unit(1, "");
    Unit(2, "");
    ASSERT_EQ(ui_.sent.size(), 4u);
    for (const Sent& s : ui_.sent) EXPECT_EQ(s.payload, "731942");
    EXPECT_TRUE(ui_.Has("log:Receive Packet has bad checksum."));
}

// Bytes that never make a frame, as a unit at another speed or a noisy cable sends them.
constexpr uint8_t kNoise[] = {0x41, 0x00, 0xFF, 0x13, 0x7F, 0x55};
constexpr uint64_t kNoiseEveryMs = 20;

TEST_F(EngineTest, ContinuousNoiseHoldsOffNeitherTheResendsNorTheGiveUp) {
    const std::string chosen = Write("keep.bin", "keep");
    const std::string source = Write("s.bin", "abc");
    const std::function<bool()> starts[] = {
        [&] {
            return engine_.Start({Operation::SendSettings, source});
        },
        [&] {
            return engine_.Start({Operation::ReceiveProgram, chosen, "P"});
        },
    };
    for (const auto& start : starts) {
        ui_.sent.clear();
        ui_.ends.clear();
        const size_t files = FilesInFolder();
        ASSERT_TRUE(start());
        uint64_t waited = 0;
        size_t goodFrames = 0;
        while (ui_.ends.empty() && waited < kTenSecondsMs) {
            goodFrames += engine_.ReceiveBytes(kNoise, sizeof kNoise);
            Wait(kNoiseEveryMs);
            waited += kNoiseEveryMs;
        }
        ASSERT_EQ(ui_.ends.size(), 1u) << "no end within 10 s of noise";
        EXPECT_EQ(ui_.ends[0].result, SessionResult::RetryExhausted);
        EXPECT_EQ(ui_.sent.size(), 7u) << "the packet and its six resends";
        EXPECT_EQ(goodFrames, 0u) << "noise is not the unit talking";
        EXPECT_TRUE(ui_.Has("log:WM_TIMER1 calling RS232_ResendPacket"));
        EXPECT_EQ(Read(chosen), "keep");
        EXPECT_EQ(FilesInFolder(), files) << "nothing left behind";
    }
}

TEST_F(EngineTest, AReplyArrivingAsItFallsDueIsLetFinishAndNotResent) {
    ASSERT_TRUE(engine_.Start({Operation::SendSettings, Write("s.bin", "abc")}));
    const std::string ask(100, '1');
    const auto frame =
        EncodeFrame(10, 1, reinterpret_cast<const uint8_t*>(ask.data()), static_cast<uint16_t>(ask.size()));
    const size_t half = frame.size() / 2;
    Wait(490);
    engine_.ReceiveBytes(frame.data(), half);
    Wait(60);  // past the reply timeout, within the byte limit
    EXPECT_EQ(engine_.ReceiveBytes(frame.data() + half, frame.size() - half), 1u);
    Wait(kTransferTickMs);
    ASSERT_EQ(ui_.sent.size(), 2u) << "no resend before the reply's own answer";
    EXPECT_EQ(Last().command, 11);
    EXPECT_FALSE(ui_.HasEnding("log:WM_TIMER", "RS232_ResendPacket"));
}

TEST_F(EngineTest, WithNoSessionTicksSendNothing) {
    engine_.SendFixedRequest();
    for (int i = 0; i < 50; ++i) Wait(kTransferTickMs);
    Unit(11, "1");  // a stray request finds no file and draws nothing
    engine_.ReceiveBytes(kNoise, sizeof kNoise);
    for (int i = 0; i < 50; ++i) Wait(kTransferTickMs);
    EXPECT_EQ(ui_.sent.size(), 1u);
}

// --- NLEC transfers

TEST_F(EngineTest, NlecSendGoesLineByLineAndIsCheckedByTheUnitsSum) {
    ASSERT_TRUE(engine_.Start({Operation::SendNlec, Write("n.txt", "AB\nC\n")}));
    EXPECT_EQ(Last().payload, std::to_string('A' + 'B' + '\n' + 'C' + '\n'));
    Unit(5, "1");
    EXPECT_EQ(Last().payload, "AB\n");
    Unit(6, "1");
    EXPECT_EQ(Last().payload, "C\n");
    Unit(6, "1");
    EXPECT_EQ(Last().command, 7);
    clock_.Advance(2500);
    Unit(7, std::to_string('A' + 'B' + '\n' + 'C' + '\n'));
    EXPECT_TRUE(ui_.Has("box:NLEC Transfer completed in 2 seconds."));
    EXPECT_EQ(ui_.ends.back().result, SessionResult::Completed);

    ASSERT_TRUE(engine_.Start({Operation::SendNlec, Write("n.txt", "AB\n")}));
    Unit(5, "1");
    Unit(6, "1");
    Unit(7, "1");
    EXPECT_TRUE(ui_.Has("box:Nlec Checksum Failure."));
    EXPECT_EQ(ui_.ends.back().result, SessionResult::Failed);
}

TEST_F(EngineTest, NlecSendReadsCrLfAndLfAlikeAndALineFromAZeroByteGoesOutEmpty) {
    const auto sendOf = [&](const std::string& name, const std::string& text) {
        ui_.sent.clear();
        EXPECT_TRUE(engine_.Start({Operation::SendNlec, Write(name, text)}));
        for (int i = 0; i < 4 && Last().command != 7; ++i) Unit(6, "1");
        Unit(7, ui_.sent.front().payload);
        EXPECT_EQ(ui_.ends.back().result, SessionResult::Completed) << name;
        return ui_.sent;
    };
    const std::vector<Sent> lf = sendOf("lf.txt", "A=1\nB=2\n");
    const std::vector<Sent> crlf = sendOf("crlf.txt", "A=1\r\nB=2\r\n");
    ASSERT_EQ(lf.size(), crlf.size());
    for (size_t i = 0; i < lf.size(); ++i) EXPECT_EQ(crlf[i].payload, lf[i].payload) << "packet " << i;
    EXPECT_EQ(crlf.front().payload, "372");

    const std::vector<Sent> zero = sendOf("zero.txt", std::string("\0X\nB=2\n", 7));
    ASSERT_EQ(zero.size(), 4u);
    EXPECT_EQ(zero[1].payload, "");
    EXPECT_EQ(zero[2].payload, "B=2\n");
}

TEST_F(EngineTest, NlecGetReplacesTheChosenFileOnlyWhenComplete) {
    const std::string chosen = Write("table.txt", "old");
    ASSERT_TRUE(engine_.Start({Operation::GetNlec, chosen}));
    EXPECT_TRUE(ui_.armed[Operation::GetNlec]);
    EXPECT_EQ(Last().command, 16);
    Unit(16, "2");
    EXPECT_TRUE(ui_.Has("bar:2"));
    Unit(17, "L1");
    EXPECT_EQ(Last().command, 17);
    EXPECT_EQ(Read(chosen), "old");
    Unit(18, "L2");
    EXPECT_EQ(Read(chosen), "L1\r\nL2\r\n") << "written with CR LF on every system";
    EXPECT_EQ(FilesInFolder(), 1u);
    EXPECT_FALSE(ui_.armed[Operation::GetNlec]);

    ASSERT_TRUE(engine_.Start({Operation::GetNlec, chosen}));
    Unit(16, "2");
    Unit(17, "X");
    Unit(8, "");  // the unit gives up
    EXPECT_FALSE(engine_.SessionActive());
    EXPECT_TRUE(ui_.Has("log:Nlec transfer halted."));
    EXPECT_EQ(ui_.ends.back().result, SessionResult::UnitError);
    EXPECT_EQ(Read(chosen), "L1\r\nL2\r\n");
    EXPECT_EQ(FilesInFolder(), 1u) << "the temporary file is gone";
}

// The unit's error code with no session running (before any, and after a finished one) is
// its log line alone: nothing halted, no beep, no end told, nothing sent, no stop touched.
TEST_F(EngineTest, AStrayNlecErrorWithNoSessionOnlyLogsItsLine) {
    const auto strayError = [&](const char* when) {
        SCOPED_TRACE(when);
        ui_.events.clear();
        const size_t sent = ui_.sent.size();
        const size_t ends = ui_.ends.size();
        const std::map<Operation, bool> armed = ui_.armed;
        Unit(8, "");
        EXPECT_EQ(ui_.events, std::vector<std::string>{"log:NLEC Transfer error."});
        EXPECT_EQ(ui_.ends.size(), ends);
        EXPECT_EQ(ui_.sent.size(), sent);
        EXPECT_EQ(ui_.armed, armed);
        EXPECT_FALSE(engine_.SessionActive());
    };
    strayError("before any session");

    ASSERT_TRUE(engine_.Start({Operation::SendNlec, Write("n.txt", "A\n")}));
    Unit(5, "1");
    Unit(6, "1");
    Unit(7, ui_.sent.front().payload);
    ASSERT_EQ(ui_.ends.back().result, SessionResult::Completed);
    strayError("after a finished send");
}

// Points the descriptor that holds path open at a folder: its next read fails as a failing
// disk's would, while what the C library already buffered still reads.
static void FailReadsOf(const std::string& path) {
    const fs::path wanted = fs::canonical(path);
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (fs::read_symlink(entry.path(), error) != wanted) continue;
        const int folder = ::open(wanted.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(folder, 0);
        ASSERT_GE(::dup2(folder, std::stoi(entry.path().filename().string())), 0);
        ::close(folder);
        return;
    }
    FAIL() << path << " is not open";
}

// A read that fails part way through a send ends it naming the file and the system's reason;
// the lines read so far are never taken for the whole file (no end of send, no sum compared).
TEST_F(EngineTest, AReadErrorMidNlecSendFailsNamingTheFileNotTheSum) {
    struct stat folder {};
    ASSERT_EQ(::stat(folder_.c_str(), &folder), 0);
    const size_t readBuffer = std::max<size_t>(BUFSIZ, static_cast<size_t>(folder.st_blksize));
    std::string table;
    for (int i = 0; table.size() < kReadBuffersPerTable * readBuffer; ++i)
        table += "K" + std::to_string(i) + "=" + kLongValue + "\n";
    const std::string path = Write("big.txt", table);
    ASSERT_TRUE(engine_.Start({Operation::SendNlec, path}));
    Unit(5, "1");
    ASSERT_EQ(Last().command, 6);
    FailReadsOf(path);
    // The unit asks for lines until the send ends, and echoes the sum of what it got.
    std::string received;
    while (engine_.SessionActive() && Last().command == 6) {
        received += Last().payload;
        Unit(6, "1");
    }
    if (engine_.SessionActive() && Last().command == 7) {
        uint16_t sum = 0;
        for (const char c : received) sum = static_cast<uint16_t>(sum + static_cast<uint8_t>(c));
        Unit(7, std::to_string(sum));
    }
    EXPECT_LT(received.size(), table.size());
    EXPECT_TRUE(ui_.Has("log:Could not read the NLEC file " + path + ": " + std::strerror(EISDIR)));
    EXPECT_TRUE(ui_.Has("box:NLEC Transfer error."));
    EXPECT_FALSE(ui_.Has("box:Nlec Checksum Failure."));
    EXPECT_FALSE(engine_.SessionActive());
    EXPECT_EQ(ui_.ends.back().result, SessionResult::Failed);
}

// The bar is told what is done since its start, never a step: bytes of a file send (a
// one-byte chunk moves nothing), lines of an NLEC fetch, each counted afresh from its start.
TEST_F(EngineTest, ProgressCountsFromEachBarsStart) {
    ASSERT_TRUE(engine_.Start({Operation::SendSettings, Write("s.bin", std::string(257, 'z'))}));
    EXPECT_TRUE(ui_.Has("bar:257"));
    for (int i = 0; i < 3; ++i) Unit(i == 0 ? 10 : 11, "1");
    EXPECT_EQ(ui_.done, (std::vector<uint64_t>{128, 256})) << "the last byte alone does not move the bar";
    engine_.Stop();

    ui_.done.clear();
    ASSERT_TRUE(engine_.Start({Operation::GetNlec, (folder_ / "t.txt").string()}));
    Unit(16, "3");
    Unit(17, "L1");
    Unit(17, "L2");
    EXPECT_EQ(ui_.done, (std::vector<uint64_t>{1, 2}));
    engine_.Stop();
}

// --- ends that belong to another session

TEST_F(EngineTest, AnEndOfAnotherKindOfTransferFailsTheRunningOne) {
    const std::string chosen = (folder_ / "chosen.txt").string();
    const std::string table = Write("n.txt", "A=1\n");
    const std::string settings = Write("s.bin", "abc");
    struct Kind {
        const char* what;
        uint16_t ownEnd;
        std::function<void()> start;
    };
    const Kind kinds[] = {
        {"NLEC send", 7,
         [&] {
             engine_.Start({Operation::SendNlec, table});
             Unit(5, "1");
         }},
        {"NLEC get", 18,
         [&] {
             engine_.Start({Operation::GetNlec, chosen});
             Unit(16, "2");
             Unit(17, "L1");
         }},
        {"file send", 12,
         [&] {
             engine_.Start({Operation::SendSettings, settings});
             Unit(10, "1");
         }},
        {"file receive", 22,
         [&] {
             engine_.Start({Operation::ReceiveSettings, chosen, ""});
             Unit(20, "5");
             Unit(21, "ab");
         }},
    };
    // The ends of success, then the unit's two error codes.
    const uint16_t codes[] = {7, 18, 12, 22, 8, 13};
    for (const Kind& kind : kinds) {
        for (const uint16_t code : codes) {
            if (code == kind.ownEnd) continue;
            SCOPED_TRACE(std::string(kind.what) + ", code " + std::to_string(code));
            Write("chosen.txt", "keep");
            const size_t files = FilesInFolder();
            kind.start();
            ASSERT_TRUE(engine_.SessionActive());
            const size_t ends = ui_.ends.size();
            Unit(code, "0");  // a sum that one never computed would match
            EXPECT_FALSE(engine_.SessionActive());
            ASSERT_EQ(ui_.ends.size(), ends + 1);
            EXPECT_NE(ui_.ends.back().result, SessionResult::Completed);
            EXPECT_NE(ui_.ends.back().kind, SessionKind::SESSION_NONE);
            EXPECT_EQ(Read(chosen), "keep");
            if (code != 8 && code != 13) {
                EXPECT_EQ(FilesInFolder(), files) << "nothing left beside it";
            }
        }
    }
    EXPECT_TRUE(ui_.Has("box:NLEC Transfer error."));
    EXPECT_TRUE(ui_.Has("box:Settings transfer failure."));
}

// --- file transfers

TEST_F(EngineTest, FileSendGoesIn128ByteChunksAndIsCheckedByTheUnitsSum) {
    const std::string data(300, 'z');
    ASSERT_TRUE(engine_.Start({Operation::SendSettings, Write("s.bin", data)}));
    const std::string sum = std::to_string((300 * 'z') % 65536);
    EXPECT_EQ(Last().payload, "25," + sum + ",300,");
    std::vector<size_t> chunks;
    for (int i = 0; i < 4 && Last().command != 12; ++i) {
        Unit(i == 0 ? 10 : 11, "1");
        if (Last().command == 11) chunks.push_back(Last().payload.size());
    }
    EXPECT_EQ(chunks, (std::vector<size_t>{128, 128, 44}));
    EXPECT_EQ(Last().command, 12);
    EXPECT_EQ(Last().payload, "1");
    Unit(12, sum);
    EXPECT_TRUE(ui_.Has("box:Transfer of settings sucessfully completed."));
    EXPECT_EQ(ui_.ends.back().result, SessionResult::Completed);
}

TEST_F(EngineTest, ProgramReceiveSavesExactlyTheAnnouncedBytes) {
    const std::string chosen = (folder_ / "prog.bin").string();
    ASSERT_TRUE(engine_.Start({Operation::ReceiveProgram, chosen, "P7"}));
    EXPECT_EQ(Last().command, 20);
    EXPECT_EQ(Last().payload, "26P7");
    Unit(20, "5");
    EXPECT_EQ(Last().payload, "1");
    Unit(21, "abc");
    EXPECT_EQ(Last().payload, "26");
    Unit(21, "de");
    Unit(22, "");
    EXPECT_EQ(Read(chosen), "abcde");
    EXPECT_TRUE(ui_.Has("box:Transfer of program sucessfully completed."));
    EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(EngineTest, FailedReceivesLeaveTheChosenFileAsItWas) {
    const std::string chosen = Write("prog.bin", "keep");
    struct Case {
        const char* what;
        std::vector<std::pair<uint16_t, std::string>> unit;
        SessionResult result;
    } cases[] = {
        {"short", {{20, "5"}, {21, "abc"}, {22, ""}}, SessionResult::Failed},
        {"long", {{20, "2"}, {21, "abc"}}, SessionResult::Failed},
        {"unit error", {{20, "5"}, {21, "ab"}, {13, "NO SUCH PROGRAM"}}, SessionResult::UnitError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(engine_.Start({Operation::ReceiveProgram, chosen, "P"}));
        for (const auto& packet : c.unit) Unit(packet.first, packet.second);
        EXPECT_FALSE(engine_.SessionActive());
        EXPECT_TRUE(ui_.Has("box:Program transfer failure."));
        EXPECT_EQ(ui_.ends.back().result, c.result);
        EXPECT_EQ(Read(chosen), "keep");
        EXPECT_EQ(FilesInFolder(), 1u);
    }
    EXPECT_EQ(ui_.ends.back().unitText, "NO SUCH PROGRAM");
}

TEST_F(EngineTest, StopTransferEndsTheReceiveAndSendsTheUnitNothing) {
    const std::string chosen = Write("prog.bin", "keep");
    ASSERT_TRUE(engine_.Start({Operation::ReceiveProgram, chosen, "P"}));
    Unit(20, "5");
    Unit(21, "ab");
    const size_t sent = ui_.sent.size();
    EXPECT_FALSE(engine_.Ask(Operation::ReceiveProgram));
    EXPECT_EQ(ui_.ends.back().result, SessionResult::Stopped);
    EXPECT_FALSE(ui_.armed[Operation::ReceiveProgram]);
    Wait(2000);
    Unit(21, "cde");  // late packets find no file
    EXPECT_EQ(ui_.sent.size(), sent);
    EXPECT_EQ(Read(chosen), "keep");
    EXPECT_EQ(FilesInFolder(), 1u);
}

// The operator's asks against the engine's own record of the armed stop: the NLEC send's
// halt leaves a file session's stop armed and its file open, and that button then stops it;
// a start of the other family leaves the running session alone; Stop() ends and closes all.
TEST_F(EngineTest, AsksFollowTheArmedStopAndStopClosesEverything) {
    ASSERT_TRUE(engine_.Start({Operation::SendSettings, Write("s.bin", "abc")}));
    EXPECT_FALSE(engine_.Ask(Operation::SendNlec)) << "the NLEC halt";
    EXPECT_FALSE(engine_.SessionActive());
    EXPECT_TRUE(engine_.StopArmed());
    EXPECT_TRUE(ui_.Has("log:Nlec transfer halted."));
    EXPECT_FALSE(engine_.Ask(Operation::SendSettings)) << "its button still stops it";
    EXPECT_TRUE(ui_.Has("log:Settings transfer halted."));
    EXPECT_FALSE(ui_.armed[Operation::SendSettings]);
    EXPECT_TRUE(engine_.Ask(Operation::SendSettings)) << "now it starts again";

    const std::string chosen = Write("t.txt", "keep");
    ASSERT_TRUE(engine_.Start({Operation::GetNlec, chosen}));
    EXPECT_TRUE(engine_.Ask(Operation::ReceiveSettings));
    EXPECT_TRUE(engine_.SessionActive()) << "a file start leaves the NLEC get running";
    EXPECT_EQ(engine_.CurrentOperation(), Operation::GetNlec);
    Unit(16, "2");
    Unit(17, "L1");
    EXPECT_EQ(FilesInFolder(), 3u) << "the get writes its temporary file";
    engine_.Stop();
    EXPECT_FALSE(engine_.SessionActive());
    EXPECT_FALSE(ui_.armed[Operation::GetNlec]);
    EXPECT_EQ(ui_.ends.back().result, SessionResult::Stopped);
    EXPECT_EQ(Read(chosen), "keep");
    EXPECT_EQ(FilesInFolder(), 2u);
}

// Choosing an NLEC file while a settings send runs leaves that send going; a session that
// starts after the NLEC halt left a file session's stop armed releases that stop first.
TEST_F(EngineTest, AnNlecChoiceLeavesAFileSendGoingAndANewSessionReleasesTheLastStop) {
    ASSERT_TRUE(engine_.Start({Operation::SendSettings, Write("s.bin", "abc")}));
    engine_.Prepare(Operation::GetNlec);
    EXPECT_TRUE(engine_.SessionActive());
    Unit(10, "1");
    EXPECT_EQ(Last().command, 11);
    EXPECT_EQ(Last().payload, "abc");

    EXPECT_FALSE(engine_.Ask(Operation::SendNlec));
    EXPECT_TRUE(ui_.armed[Operation::SendSettings]);
    ASSERT_TRUE(engine_.Start({Operation::GetNlec, (folder_ / "t.txt").string()}));
    EXPECT_FALSE(ui_.armed[Operation::SendSettings]) << "its button has its own caption back";
    EXPECT_TRUE(ui_.armed[Operation::GetNlec]);
}

// Stop() removes a receive's temporary file at once: a running receive's, and one that the
// NLEC halt ended but left open with its stop armed.
TEST_F(EngineTest, StopRemovesAReceivesTemporaryFileAtOnce) {
    const std::string chosen = Write("saved.bin", "keep");
    for (const bool halted : {false, true}) {
        SCOPED_TRACE(halted ? "halted" : "running");
        ASSERT_TRUE(engine_.Start({Operation::ReceiveSettings, chosen, ""}));
        Unit(20, "5");
        Unit(21, "ab");
        if (halted) {
            EXPECT_FALSE(engine_.Ask(Operation::SendNlec));
            EXPECT_FALSE(engine_.SessionActive());
        }
        EXPECT_EQ(FilesInFolder(), 2u);
        engine_.Stop();
        EXPECT_EQ(FilesInFolder(), 1u);
        EXPECT_EQ(Read(chosen), "keep");
        EXPECT_FALSE(engine_.StopArmed());
        EXPECT_FALSE(ui_.armed[Operation::ReceiveSettings]);
    }
}

// --- what a receive leaves on disk

// A worker that ends (a lost port, a closing program) destroys its engine mid-receive without a
// Stop: the engine's files close with it, the temporary file goes, the chosen file stays.
TEST_F(EngineTest, AnEngineDestroyedMidReceiveLeavesOnlyTheChosenFile) {
    const std::string chosen = Write("kept.set", "keep");
    {
        TransferEngine engine(ui_, SystemFiles(), clock_);
        ASSERT_TRUE(engine.Start({Operation::ReceiveSettings, chosen, ""}));
        UnitTo(engine, 20, "5");
        UnitTo(engine, 21, "ab");
        EXPECT_EQ(FilesInFolder(), 2u);
    }
    EXPECT_EQ(FilesInFolder(), 1u);
    EXPECT_EQ(Read(chosen), "keep");
}

// Real temporary files beside the chosen one, whose writes land on a full disk.
class FullDiskFiles final : public TransferFiles {
public:
    FILE* CreatePending(const std::string& path, const char* mode, std::string* pendingPath,
                        std::error_code* error) override {
        FILE* real = SystemFiles().CreatePending(path, mode, pendingPath, error);
        if (real == nullptr) return nullptr;
        std::fclose(real);
        return std::fopen("/dev/full", mode);
    }
    std::error_code Commit(FILE* file, const std::string& pendingPath, const std::string& path) override {
        return SystemFiles().Commit(file, pendingPath, path);
    }
    void Remove(const std::string& path) override { SystemFiles().Remove(path); }
};

// Small receives fail when the last bytes are flushed, large ones on a write on the way;
// either way with the system's reason, the chosen file as it was and no temporary file.
TEST_F(EngineTest, AReceiveOntoAFullDiskFailsWithTheSystemsReasonAndLeavesNothing) {
    FullDiskFiles fullDisk;
    TransferEngine engine(ui_, fullDisk, clock_);
    const std::string chosen = Write("settings.bin", "keep");
    const std::string chunk(kMaxPayload, 's');
    struct Case {
        const char* what;
        int chunks;
        std::string line;  // the log line that names the file
    } cases[] = {
        {"fails at the save", 1, "log:Could not save " + chosen + "."},
        {"fails on a write", 40, "log:Could not write " + chosen + ": " + std::strerror(ENOSPC)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ui_.events.clear();
        ASSERT_TRUE(engine.Start({Operation::ReceiveSettings, chosen, ""}));
        UnitTo(engine, 20, std::to_string(c.chunks * chunk.size()));
        for (int i = 0; i < c.chunks && engine.SessionActive(); ++i) UnitTo(engine, 21, chunk);
        if (engine.SessionActive()) UnitTo(engine, 22, "");
        EXPECT_FALSE(engine.SessionActive());
        EXPECT_TRUE(ui_.Has(c.line));
        if (c.chunks == 1) {
            EXPECT_TRUE(ui_.Has("os:" + std::to_string(ENOSPC)));
        }
        EXPECT_TRUE(ui_.Has("box:Settings transfer failure."));
        EXPECT_EQ(ui_.ends.back().result, SessionResult::Failed);
        EXPECT_EQ(Read(chosen), "keep");
        EXPECT_EQ(FilesInFolder(), 1u);
    }
}

// The replace itself fails (a folder holds the chosen name): the failure names the file and
// the system's reason, the folder keeps what it held and no temporary file is left.
TEST_F(EngineTest, AFailedFinalReplaceLeavesNothingBehind) {
    const fs::path chosen = folder_ / "saved";
    fs::create_directory(chosen);
    Write("saved/inside", "keep");
    ASSERT_TRUE(engine_.Start({Operation::ReceiveSettings, chosen.string(), ""}));
    Unit(20, "3");
    Unit(21, "abc");
    Unit(22, "");
    EXPECT_TRUE(ui_.Has("log:Could not save " + chosen.string() + "."));
    EXPECT_TRUE(ui_.Has("os:" + std::to_string(EISDIR)));
    EXPECT_EQ(ui_.ends.back().result, SessionResult::Failed);
    EXPECT_EQ(Read((chosen / "inside").string()), "keep");
    EXPECT_EQ(FilesInFolder(), 1u);
}

// --- the bitmap send

// Two bitmap sends at once, as two units on two ports: each sends its own image with its own
// sum, built in memory; nothing is written anywhere.
TEST_F(EngineTest, BitmapSendsGoFromTheirOwnImageInMemory) {
    Recorder otherUi;
    TransferEngine other(otherUi, SystemFiles(), clock_);
    const std::string first = Write("a.txt", "0x01, 0x02,\n0x0\n3, 0xfe\n");
    const std::string second = Write("b.txt", "0x10 0x20 0x30\r\n");
    ASSERT_TRUE(engine_.Start({Operation::SendBitmap, first}));
    ASSERT_TRUE(other.Start({Operation::SendBitmap, second}));
    EXPECT_EQ(Last().payload, "24," + std::to_string(0x01 + 0x02 + 0xfe) + ",3,");
    EXPECT_EQ(otherUi.sent.back().payload, "24," + std::to_string(0x10 + 0x20 + 0x30) + ",3,");
    UnitTo(other, 10, "1");
    Unit(10, "1");
    EXPECT_EQ(Last().payload, "\x01\x02\xfe");
    EXPECT_EQ(otherUi.sent.back().payload, "\x10\x20\x30");
    Unit(11, "1");
    EXPECT_EQ(Last().command, 12);
    Unit(12, std::to_string(0x01 + 0x02 + 0xfe));
    EXPECT_TRUE(ui_.Has("box:Bitmap Transfer sucessfully completed."));
    EXPECT_EQ(FilesInFolder(), 2u);
    EXPECT_FALSE(fs::exists("bitmap.bin"));
}

}  // namespace
