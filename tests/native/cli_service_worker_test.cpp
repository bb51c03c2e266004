// A service command's worker on a fake port and clock: what its one end line says (the
// fixed request that did not leave, a start that failed, the unit's NLEC error) and that each
// of the unit's reports is kept exactly once.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "FakePort.h"
#include "cli/service/ServiceWorker.h"
#include "link/Frame.h"
#include "transfer/CommandCodes.h"

using namespace packetlink;

namespace {

using cli::EventKind;
using serial::PortError;

// Keeps every event; raises the stop flag once a chosen line has been kept.
struct Recorder final : cli::UnitEventSink {
    std::vector<cli::UnitEvent> events;
    std::string stopAfter;
    std::atomic<bool>* stop = nullptr;
    void Report(const cli::UnitEvent& event) override {
        events.push_back(event);
        if (stop != nullptr && !stopAfter.empty() && event.text == stopAfter) stop->store(true);
    }
    size_t Count(const std::string& text) const {
        size_t count = 0;
        for (const auto& e : events) count += e.kind == EventKind::Log && e.text == text;
        return count;
    }
    const cli::UnitEvent& Last() const { return events.back(); }
};

struct Rig {
    fake::FakeClock clock;
    fake::FakePort port{clock, "/dev/ttyUSB0"};
    Recorder recorder;
    std::atomic<bool> stop{false};
    uint16_t unitId = 0;

    // The unit's packet, arriving after a pause.
    void Unit(uint64_t afterMs, transfer::CommandCode command, const std::string& payload) {
        port.Arrive(clock.NowMs() + afterMs, EncodeFrame(static_cast<uint16_t>(command), ++unitId,
                                                         reinterpret_cast<const uint8_t*>(payload.data()),
                                                         static_cast<uint16_t>(payload.size())));
    }
    bool Run(cli::Command command, const std::string& file = "") {
        cli::UnitContext context;
        context.port = port.Name();
        context.open = [this](const std::string&, serial::PortStatus*) -> std::unique_ptr<serial::SerialPort> {
            return std::make_unique<fake::PortLoan>(port);
        };
        context.clock = &clock;
        context.sink = &recorder;
        context.cancel = &stop;
        return cli::RunServiceUnit(context, cli::ServicePlan{command, file, ""});
    }
};

TEST(CliServiceWorker, TheFixedRequestIsSentOnlyWhenItsBytesLeft) {
    Rig sent;
    EXPECT_TRUE(sent.Run(cli::Command::Request));
    EXPECT_EQ(sent.recorder.Last().kind, EventKind::Done);
    EXPECT_EQ(sent.port.drains.size(), 1u) << "sent means drained to the line";

    Rig refused;  // the line takes nothing until the write's deadline
    refused.port.afterScript = {0, PortError::TimedOut, 0};
    EXPECT_FALSE(refused.Run(cli::Command::Request));
    EXPECT_EQ(refused.recorder.Last().kind, EventKind::Failed);
    EXPECT_EQ(refused.recorder.Last().text, "the fixed request did not leave: timed out (fake write failure)");

    Rig stuck;  // taken, but held in the port's queue
    stuck.port.drainTakesMs = UINT32_MAX;
    EXPECT_FALSE(stuck.Run(cli::Command::Request));
    EXPECT_EQ(stuck.recorder.Last().text.rfind("the fixed request did not leave: timed out", 0), 0u);
}

TEST(CliServiceWorker, AStartThatFailsNamesTheFileAndTheSystemsReason) {
    Rig rig;
    const std::string file = "/varnex-no-such-folder/settings.bin";
    EXPECT_FALSE(rig.Run(cli::Command::SettingsGet, file));
    EXPECT_EQ(rig.recorder.Last().kind, EventKind::Failed);
    EXPECT_EQ(rig.recorder.Last().text, "Could not create a file beside " + file + ". (No such file or directory)");
    EXPECT_TRUE(rig.port.received.empty()) << "nothing asked of the unit";
}

TEST(CliServiceWorker, TheUnitsNlecErrorEndsInTheDialogsWordsAndAnEraseResultIsKeptOnce) {
    Rig rig;
    rig.Unit(50, transfer::CommandCode::RS232_CMD_FLASH_ERASE_RESULT, "0");
    rig.Unit(100, transfer::CommandCode::RS232_CMD_NLEC_ERROR, "");
    EXPECT_FALSE(rig.Run(cli::Command::NlecGet, testing::TempDir() + "varnex-nlec-get.txt"));
    EXPECT_EQ(rig.recorder.Last().kind, EventKind::Failed);
    EXPECT_EQ(rig.recorder.Last().text, "NLEC Transfer error.");
    EXPECT_EQ(rig.recorder.Count("Flash erase successful."), 1u);
}

TEST(CliServiceWorker, TheMonitorKeepsAStrayReportOnce) {
    Rig rig;
    rig.stop = false;
    rig.recorder.stop = &rig.stop;
    rig.recorder.stopAfter = "Flash erase failure: 3";
    rig.Unit(50, transfer::CommandCode::RS232_CMD_NLEC_SEND_END, "12");  // a sum for a send nobody made
    rig.Unit(100, transfer::CommandCode::RS232_CMD_FLASH_ERASE_RESULT, "3");
    EXPECT_TRUE(rig.Run(cli::Command::Monitor));
    EXPECT_EQ(rig.recorder.Count("Nlec Checksum Failure."), 1u);
    EXPECT_EQ(rig.recorder.Count("Flash erase failure: 3"), 1u);
}

}  // namespace
