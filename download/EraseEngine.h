// The flash erase handshake, one implementation for every front-end: the request 0x07 0x06
// (a short write sends only what is left of it), then a bounded wait for the same two bytes
// back as an aligned pair, then 100 ms. The port stays at 115 200 baud. Its steps go to a
// listener, the outcome is returned; time comes from the clock it is given.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/Clock.h"
#include "common/EngineEvents.h"
#include "serial/SerialPort.h"

namespace download {

inline constexpr uint32_t kEraseBaudRate = serial::kFastDownloadBaud;  // the bootloader erases at its fast speed
// The unit needs about 50 s; more than twice that means it is not going to answer.
inline constexpr uint32_t kEraseReplyTimeoutMs = 120000;
// How long a port that will not take the request is tried.
inline constexpr uint32_t kEraseWriteGiveUpMs = 5000;

enum class EraseResult {
    Done,         // the unit answered 0x07 0x06
    WriteFailed,  // the request could not be written within its bound
    NoReply,      // no aligned reply within the reply bound
    PortGone,     // the device vanished
    Cancelled,    // the caller asked it to stop
};

struct EraseOutcome {
    EraseResult result = EraseResult::Done;
    uint32_t replyTimeoutMs = kEraseReplyTimeoutMs;
    serial::PortStatus lastError;
};

// What the erase tells its front-end, in the engines' shared words: ProgressStart(0) once
// both request bytes have left and the wait for the reply begins (its length is unknown);
// ProgressEnd() once the handshake is over, whatever its result, before the 100 ms pause. The
// outcome is what the run returns; a listener that must know it at ProgressEnd reads
// FlashErase::Outcome() there. It gives no log lines or notices of its own.
using EraseListener = common::EngineEvents;

struct EraseLimits {
    uint32_t replyTimeoutMs = kEraseReplyTimeoutMs;
    uint32_t writeGiveUpMs = kEraseWriteGiveUpMs;
    const std::atomic<bool>* cancel = nullptr;  // may be null
};

// One erase handshake on one port, run on the calling thread by Run; the caller has already
// switched the port to kEraseBaudRate. Reply bytes are read through port.Read.
class FlashErase {
public:
    FlashErase(serial::SerialPort& port, common::Clock& clock, const EraseLimits& limits = {})
        : port_(port), clock_(clock), limits_(limits) {}
    EraseOutcome Run(EraseListener& listener);
    // The outcome so far: final from ProgressEnd on.
    const EraseOutcome& Outcome() const { return outcome_; }

private:
    serial::SerialPort& port_;
    common::Clock& clock_;
    const EraseLimits limits_;
    EraseOutcome outcome_;
};

// A FlashErase run for a listener that needs no outcome before the end.
EraseOutcome RunFlashErase(serial::SerialPort& port, common::Clock& clock, EraseListener& listener,
                           const EraseLimits& limits = {});

}  // namespace download
