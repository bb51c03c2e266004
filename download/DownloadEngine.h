// The raw image download, one implementation for every front-end: the image goes to the
// port in 16 384-byte blocks, a port that takes nothing for the stall bound ends it, the
// port's queue drains to the line before the stream counts as done, then 100 ms and the
// port back at 38 400 baud. Progress goes to a listener, the outcome is returned; time comes
// from the clock it is given.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "common/Clock.h"
#include "common/EngineEvents.h"
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

// What the download tells its front-end, in the engines' shared words: ProgressStart(total
// bytes) before the first write; ProgressAdvance(bytes sent) after every write that moved
// bytes, from the worker's thread; ProgressEnd() once the stream is over (done only once the
// port's queue has drained), before the 100 ms pause and the speed change. The outcome is
// what the run returns; a listener that must know it at ProgressEnd reads
// ImageDownload::Outcome() there. It gives no log lines or notices of its own.
using DownloadListener = common::EngineEvents;

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

// One download of one image on one port, streamed on the calling thread by Run; the caller
// has already switched the port to request.baudRate. Run always ends with the pause and the
// port at 38 400, and returns the outcome.
class ImageDownload {
public:
    ImageDownload(serial::SerialPort& port, common::Clock& clock, const DownloadRequest& request)
        : port_(port), clock_(clock), request_(request) {}
    DownloadOutcome Run(DownloadListener& listener);
    // The outcome so far: final from ProgressEnd on, but for a failed speed change after it.
    const DownloadOutcome& Outcome() const { return outcome_; }

private:
    bool UnitEndedImage();
    void DrainQueue();

    serial::SerialPort& port_;
    common::Clock& clock_;
    const DownloadRequest request_;
    DownloadOutcome outcome_;
};

// An ImageDownload run for a listener that needs no outcome before the end.
DownloadOutcome RunImageDownload(serial::SerialPort& port, common::Clock& clock, const DownloadRequest& request,
                                 DownloadListener& listener);

}  // namespace download
