// The session on its own: the order in which its reports reach the operator, the hand-over of
// an armed stop from one session to the next, and the resend count up to the give-up.
#include "transfer/TransferSession.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/Frame.h"
#include "tests/native/FakePort.h"

using namespace transfer;
using packetlink::ResendCause;

namespace {

// Every call as one line, in order.
class Calls final : public TransferListener {
public:
    std::vector<std::string> lines;
    int frames = 0;

    void SendFrame(const uint8_t*, size_t) override { ++frames; }
    void Log(const std::string& line, std::error_code) override { lines.push_back("log:" + line); }
    void AppendLine(const std::string& line) override { lines.push_back("line:" + line); }
    void Notice(common::NoticeKind kind, const std::string& text) override {
        lines.push_back(kind == common::NoticeKind::Alert ? "beep" : "box:" + text);
    }
    void ProgressStart(uint64_t total) override { lines.push_back("bar:" + std::to_string(total)); }
    void ProgressAdvance(uint64_t done) override { lines.push_back("done:" + std::to_string(done)); }
    void ProgressEnd() override { lines.push_back("bar end"); }
    void StopArmed(Operation operation) override { lines.push_back("armed:" + std::to_string(int(operation))); }
    void StopReleased(Operation operation) override { lines.push_back("released:" + std::to_string(int(operation))); }
    void SessionEnded(const SessionEnd& end) override {
        lines.push_back("end:" + std::to_string(static_cast<int>(end.kind)) + ":" + end.text);
    }
};

struct SessionTest : ::testing::Test {
    fake::FakeClock clock;
    Calls calls;
    TransferSession session{calls, clock};
};

// Before any session the text passed is logged and boxed, with no beep; a session's reporter
// beeps, logs, then boxes its own text. An end outside a session has no kind.
TEST_F(SessionTest, ReportsGoThroughTheSessionsReporterInTheOperatorsOrder) {
    EXPECT_EQ(session.Report(ReportOperation::Failure, kTransferErrorText, TransferKind::KIND_SETTINGS),
              kTransferErrorText);
    session.Ended(false, SessionResult::Failed, kTransferErrorText);
    EXPECT_EQ(calls.lines,
              (std::vector<std::string>{"log:Transfer error.", "box:Transfer error.", "end:0:Transfer error."}));
    session.Begin(Operation::SendSettings, Reporter::File);
    calls.lines.clear();
    session.Report(ReportOperation::Failure, kTransferErrorText, TransferKind::KIND_SETTINGS);
    session.Ended(true, SessionResult::Failed, "Settings transfer failure.");
    EXPECT_EQ(calls.lines,
              (std::vector<std::string>{"beep", "log:Settings transfer failure.", "box:Settings transfer failure.",
                                        "end:3:Settings transfer failure."}));
}

// A new session first releases the stop that the last one left armed, then arms its own; the
// progress it tells counts from each bar's start.
TEST_F(SessionTest, ANewSessionReleasesTheLastStopBeforeArmingItsOwn) {
    session.Begin(Operation::SendSettings, Reporter::File);
    session.Deactivate();  // as the NLEC halt leaves a file session
    EXPECT_TRUE(session.StopArmed());
    calls.lines.clear();
    session.Begin(Operation::GetNlec, Reporter::Nlec);
    session.StartProgress(2);
    session.AdvanceProgress(1);
    session.AdvanceProgress(1);
    session.StartProgress(5);
    session.AdvanceProgress(3);
    EXPECT_EQ(calls.lines,
              (std::vector<std::string>{"released:2", "armed:1", "bar:2", "done:1", "done:2", "bar:5", "done:3"}));
    EXPECT_EQ(session.Kind(), SessionKind::SESSION_GET_NLEC);
}

// Six resends of one packet are counted; the seventh request sends nothing and answers false.
// A new session counts from zero again.
TEST_F(SessionTest, SixResendsThenTheGiveUp) {
    session.Begin(Operation::SendSettings, Reporter::File);
    session.Send(CommandCode::RS232_CMD_FILE_SEND, "25,0,0,", 7);
    for (int resend = 1; resend <= packetlink::kMaxResends; ++resend) {
        EXPECT_TRUE(session.Resend(ResendCause::LOCAL_TIMEOUT));
        EXPECT_EQ(session.RetryCount(), resend);
    }
    EXPECT_FALSE(session.Resend(ResendCause::LOCAL_TIMEOUT));
    EXPECT_EQ(calls.frames, 1 + packetlink::kMaxResends);
    session.Begin(Operation::SendSettings, Reporter::File);
    EXPECT_EQ(session.RetryCount(), 0);
}

}  // namespace
