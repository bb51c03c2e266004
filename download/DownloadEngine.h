// The raw image download, one implementation for every front-end: the image goes to the
// port in 16 384-byte blocks, a port that takes nothing for the stall bound ends it, the
// port's queue drains to the line before the stream counts as done, then 100 ms and the
// port back at 38 400 baud. Progress and the
// outcome go to a listener; time comes from the clock it is given.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "common/Clock.h"
#include "serial/SerialPort.h"

namespace download {

enum class DownloadResult {
    Done,       // every byte left (the port's queue drained, or its drain bound passed)
    Stalled,    // the port took nothing for the whole stall bound
    PortGone,   // the device vanished (unplugged adapter), also while the queue drained
    Cancelled,  // the caller asked it to stop
    UnitEnded,  // the unit dropped CTS before the last byte had left (watched on request)
};

struct DownloadOutcome {
    DownloadResult result = DownloadResult::Done;
    uint64_t bytesSent = 0;
    uint64_t total = 0;
    uint32_t stallLimitMs = 0;     // the bound that applied, for the stall message
    serial::PortStatus lastError;  // the last port failure seen, if any
};

class DownloadListener {
public:
    virtual ~DownloadListener() = default;
    // Before the first write (the wizard logs its start line here).
    virtual void OnStreamStart(uint64_t total) = 0;
    // After every write that moved bytes, from the worker's thread.
    virtual void OnProgress(uint64_t bytesSent, uint64_t total) = 0;
    // The stream is over (done or cut short; done only once the port's queue has drained),
    // before the 100 ms pause and the speed change.
    virtual void OnStreamEnd(const DownloadOutcome& outcome) = 0;
    // The port is back at 38 400 baud; the last call the engine makes.
    virtual void OnFinished(const DownloadOutcome& outcome) = 0;
};

struct DownloadRequest {
    const uint8_t* data = nullptr;  // sent as stored, from its first byte to its last
    uint32_t size = 0;
    uint32_t baudRate = 0;  // the speed the port was switched to; sizes the stall bound
    // Raised by another thread to end the stream early (Ctrl-C); may be null.
    const std::atomic<bool>* cancel = nullptr;
    // The unit drops CTS once it takes an image as finished. With this set, CTS is read
    // between writes and while the queue drains, and a drop before the last byte has left
    // ends the stream as UnitEnded: a half-loaded unit is never reported done. The wizard
    // leaves it off and reads the drop itself.
    bool endOnCtsDrop = false;
};

// The stall bound in the words every front-end uses: "the port took no data for 6 seconds"
// (whole seconds, never more than the bound).
std::string StallText(uint32_t stallLimitMs);

// Streams the image on the calling thread; the caller has already switched the port to
// request.baudRate. Always ends with the pause, the port at 38 400 and OnFinished.
DownloadOutcome RunImageDownload(serial::SerialPort& port, common::Clock& clock, const DownloadRequest& request,
                                 DownloadListener& listener);

}  // namespace download
