// The flash erase handshake, one implementation for every front-end: the request 0x07 0x06
// (a short write sends only what is left of it), then a bounded wait for the same two bytes
// back as an aligned pair, then 100 ms. The port stays at 115 200 baud. Outcome to a
// listener; time from the clock it is given.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/Clock.h"
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

class EraseListener {
public:
    virtual ~EraseListener() = default;
    // Both request bytes have left; the wait for the reply begins.
    virtual void OnRequestSent() = 0;
    // The handshake is over (any result), before the 100 ms pause.
    virtual void OnEraseEnd(const EraseOutcome& outcome) = 0;
    // After the pause; the last call the engine makes.
    virtual void OnFinished(const EraseOutcome& outcome) = 0;
};

struct EraseLimits {
    uint32_t replyTimeoutMs = kEraseReplyTimeoutMs;
    uint32_t writeGiveUpMs = kEraseWriteGiveUpMs;
    const std::atomic<bool>* cancel = nullptr;  // may be null
};

// Runs the handshake on the calling thread; the caller has already switched the port to
// kEraseBaudRate. Reply bytes are read through port.Read.
EraseOutcome RunFlashErase(serial::SerialPort& port, common::Clock& clock, EraseListener& listener,
                           const EraseLimits& limits = {});

}  // namespace download
