// varnex's table of failure sentences gives each kind the sentence it has always printed,
// filled from its details: scripts and operators match on these words.
#include "cli/output/FailureTexts.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

using cli::Failure;
using cli::FailureDetails;

namespace {

constexpr serial::PortKind kLocal = serial::PortKind::Local;
constexpr serial::PortKind kNetwork = serial::PortKind::Network;

FailureDetails Details(const serial::PortStatus& status, serial::PortKind kind, uint32_t ms, uint32_t baud) {
    FailureDetails details = cli::PortFailure(status, kind);
    details.ms = ms;
    details.baud = baud;
    return details;
}

}  // namespace

TEST(CliFailureTexts, EveryKindGivesItsSentenceFilledFromItsDetails) {
    const serial::PortStatus gone{serial::PortError::Gone, "No such device"};
    const serial::PortStatus timedOut{serial::PortError::TimedOut, ""};
    FailureDetails image;
    image.name = "img.bin";
    image.size = 12;
    image.system = std::error_code(ENOENT, std::generic_category());
    FailureDetails said = cli::Words("the unit did not answer.");
    said.more = "busy";
    FailureDetails unit = cli::Words("no confirmation");
    unit.unit = 3;

    struct Case {
        Failure kind;
        FailureDetails details;
        std::string sentence;
    };
    const std::vector<Case> cases = {
        {Failure::PortNotOpened, Details(gone, kLocal, 0, 0), "cannot open the port: device is gone (No such device)"},
        {Failure::PortGone, Details(gone, kLocal, 0, 0),
         "the port is gone (adapter unplugged?): device is gone (No such device)"},
        {Failure::PortGone, Details(timedOut, kNetwork, 0, 0), "the port is gone (server or network lost?): timed out"},
        {Failure::CtsNotRead, Details(gone, kLocal, 0, 0), "cannot read CTS: device is gone (No such device)"},
        {Failure::NoCts, Details({}, kLocal, 59001, 0),
         "no CTS within 60 s: the unit is not in its bootloader menu (hold C while switching it on)"},
        {Failure::CtsWaitStopped, {}, "stopped by Ctrl-C while waiting for CTS"},
        {Failure::SpeedNotSet, Details(timedOut, kLocal, 0, 921600), "cannot switch to 921600 baud: timed out"},
        {Failure::RecordNotBegun, cli::Words("disk full"),
         "the records cannot be written (disk full): nothing was sent"},
        {Failure::RecordNotCompleted, cli::Words("disk full"), "the records cannot be written: disk full"},
        {Failure::EraseNotTaken, Details(timedOut, kLocal, 5000, 0),
         "the port did not take the erase request within 5 s: timed out"},
        {Failure::EraseNoReply, Details({}, kLocal, 120000, 0), "no answer from the unit within 120 s"},
        {Failure::EraseStopped, {}, "stopped by Ctrl-C while erasing"},
        {Failure::RequestNotSent, Details(timedOut, kLocal, 0, 0), "the fixed request did not leave: timed out"},
        {Failure::TransferNotStarted, {}, "the transfer could not start"},
        {Failure::TransferFailed, {}, "the transfer failed"},
        {Failure::UnitSays, said, "the unit did not answer. The unit says: busy"},
        {Failure::TransferStopped, {}, "stopped by Ctrl-C"},
        {Failure::UnitQuiet, Details({}, kLocal, 10000, 0),
         "the unit went quiet: nothing for 10 s while the transfer waited"},
        {Failure::UnknownResult, cli::Words("erase"), "unknown erase result"},
        {Failure::WorkerNotStarted, cli::Words("Resource temporarily unavailable"),
         "cannot start a worker: Resource temporarily unavailable"},
        {Failure::StationUnitFailed, unit, "unit 3: no confirmation"},
        {Failure::StationWorkerNotStarted, {}, "a port's worker could not start"},
        {Failure::LoadsFinishing, cli::Words("--count 2 reached"), "--count 2 reached; the loads under way finish"},
        {Failure::ProbeBusy, {}, "busy: another program holds it"},
        {Failure::ProbeNotOpened, Details(timedOut, kLocal, 0, 0), "cannot open: timed out ()"},
        {Failure::ProbeCtsNotRead, Details(gone, kLocal, 0, 0), "cannot read CTS: device is gone (No such device)"},
        {Failure::RecordsNotUsable, cli::Words("not a database"), "the records file cannot be used: not a database"},
        {Failure::RecordsNotReadable, cli::Words("not a database"), "the records file cannot be read: not a database"},
        {Failure::ImageNotCarried, image, "this program carries no img.bin image"},
        {Failure::ImageNotOpened, image, "img.bin: No such file or directory"},
        {Failure::ImageEmpty, image, "img.bin: the file is empty"},
        {Failure::ImageTooLarge, image, "img.bin: the file is too large for an image"},
        {Failure::ImageWrongSize, image,
         "img.bin: 12 bytes is not the size of a bootloader (249008), 2-axis (4402584) or 3-axis (4403368) image; "
         "give --any-size to send it anyway"},
        {Failure::ImageNotRead, image, "img.bin: the file could not be read whole"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sentence);
        EXPECT_EQ(cli::FailureText(c.kind, c.details), c.sentence);
    }
}

TEST(CliFailureTexts, WordsFromElsewhereAreTakenAsTheyAre) {
    // A records error or a unit's text may hold braces: they are never read as names.
    EXPECT_EQ(cli::FailureText(Failure::RecordNotCompleted, cli::Words("{reason} {")),
              "the records cannot be written: {reason} {");
}

TEST(CliFailureTexts, AStopFromTheSystemIsNotCalledCtrlC) {
    EXPECT_STREQ(cli::StoppedWords(common::StopCause::Terminate), "stopped");
    EXPECT_STREQ(cli::StoppedWords(common::StopCause::Interrupt), "stopped by Ctrl-C");
    EXPECT_STREQ(cli::StoppedWords(common::StopCause::None), "stopped by Ctrl-C");
}
