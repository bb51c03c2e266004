// Every failure sentence varnex builds, in one table: a failure kind and the details it names
// give the sentence. A load's own ending is the download engine's (download/DownloadText.h),
// which the loading station shares; a transfer's, the transfer engine's.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <utility>

#include "common/StopCause.h"
#include "serial/SerialPort.h"

namespace cli {

enum class Failure {
    // A unit's worker, as the unit's Failed event (or, for RecordNotCompleted, its log line).
    PortNotOpened,       // the port would not open
    PortGone,            // the device or its server went away
    CtsNotRead,          // the line could not be read while waiting
    NoCts,               // the unit never raised CTS
    CtsWaitStopped,      // Ctrl-C while waiting for CTS
    SpeedNotSet,         // the port would not take the load's or the erase's speed
    RecordNotBegun,      // the run's row could not be begun: nothing was sent
    RecordNotCompleted,  // the run's row could not be completed
    EraseNotTaken,       // the port did not take the erase request in time
    EraseNoReply,        // the unit did not answer the erase request in time
    EraseStopped,        // Ctrl-C while erasing
    RequestNotSent,      // the fixed request did not leave the port
    TransferNotStarted,  // the engine refused the transfer without a reason of its own
    TransferFailed,      // the transfer ended badly without a reason of its own
    UnitSays,            // a failure's reason with the unit's own words after it
    TransferStopped,     // Ctrl-C during a transfer
    UnitQuiet,           // the unit said nothing for the quiet bound
    UnknownResult,       // a result this program does not know (a fault of its own)
    WorkerNotStarted,    // a unit's thread could not be started
    StationUnitFailed,   // a station's unit ended without its confirmation
    // A station as a whole, on standard error.
    StationWorkerNotStarted,  // the reason arming stops when a port's thread cannot start
    LoadsFinishing,           // arming stopped, the loads under way go on
    // ports --probe, one port's state.
    ProbeBusy,
    ProbeNotOpened,
    ProbeCtsNotRead,
    // Before any port is touched (usage errors).
    RecordsNotUsable,
    RecordsNotReadable,
    ServerUrlHasPassword,  // a records server's URL with its password in it
    ForwardNeedsRecords,   // --forward without --records
    // The line's records server, on standard error.
    ServerRefuses,  // a permanent failure, said once with what to do
    ServerNotRead,  // varnex records URL could not read the server
    RowsWaiting,    // the station's last line when rows wait in the file
    ImageNotCarried,
    ImageNotOpened,
    ImageEmpty,
    ImageTooLarge,
    ImageWrongSize,
    ImageNotRead,
};

// What a sentence may name; each kind uses only its own few.
struct FailureDetails {
    serial::PortStatus status;  // the port's failure
    std::error_code system;     // the system's error for a file
    uint32_t ms = 0;            // the bound that ran out
    uint32_t baud = 0;
    uint32_t unit = 0;  // a station's unit on its port
    uint64_t size = 0;  // a file's size in bytes
    std::string name;   // a file's path, or an image's name
    std::string words;  // words from elsewhere: a reason, the records' error, the unit's text
    std::string more;   // the unit's own words after a reason (UnitSays)
    // The unit's port's kind, for the likely cause of a port gone.
    serial::PortKind portKind = serial::PortKind::Local;
};

// The details of the commonest sentences: a port's failure (and the port's kind, for
// PortGone), or words from elsewhere.
inline FailureDetails PortFailure(const serial::PortStatus& status,
                                  serial::PortKind portKind = serial::PortKind::Local) {
    FailureDetails details;
    details.status = status;
    details.portKind = portKind;
    return details;
}
inline FailureDetails Words(std::string words) {
    FailureDetails details;
    details.words = std::move(words);
    return details;
}

// A bound in whole seconds as varnex says it ("6 s"), rounded up so it is never understated.
// How a load cut short by a stop is worded: by Ctrl-C at the console (or a flag the run raised
// itself), or plainly "stopped" when the system asked (SIGTERM from systemctl stop, a shutdown).
const char* StoppedWords(common::StopCause cause);
std::string SecondsText(uint32_t ms);

// The sentence, byte for byte as varnex prints it (without the "varnex: " of standard error).
std::string FailureText(Failure kind, const FailureDetails& details = {});

}  // namespace cli
