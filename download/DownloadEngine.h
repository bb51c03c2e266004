// The raw image download, one implementation for every front-end: the image goes to the
// port in 16 384-byte blocks, a port that takes nothing for the stall bound ends it, then
// 100 ms for the last bytes to leave and the port back at 38 400 baud. Progress and the
// outcome go to a listener; time comes from the clock it is given.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/Clock.h"
#include "serial/SerialPort.h"

namespace download {

enum class DownloadResult {
    Done,       // every byte left
    Stalled,    // the port took nothing for the whole stall bound
    PortGone,   // the device vanished (unplugged adapter)
    Cancelled,  // the caller asked it to stop
};

struct DownloadOutcome {
    DownloadResult result = DownloadResult::Done;
    uint64_t bytesSent = 0;
    uint64_t total = 0;
    uint32_t stallLimitMs = 0;   // the bound that applied, for the stall message
    serial::PortStatus lastError;  // the last port failure seen, if any
};

class DownloadListener {
public:
    virtual ~DownloadListener() = default;
    // Before the first write (the wizard logs its start line here).
    virtual void OnStreamStart(uint64_t total) = 0;
    // After every write that moved bytes, from the worker's thread.
    virtual void OnProgress(uint64_t bytesSent, uint64_t total) = 0;
    // The stream is over (done or cut short), before the 100 ms pause and the speed change.
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
};

// Streams the image on the calling thread; the caller has already switched the port to
// request.baudRate. Always ends with the pause, the port at 38 400 and OnFinished.
DownloadOutcome RunImageDownload(serial::SerialPort& port, common::Clock& clock, const DownloadRequest& request,
                                 DownloadListener& listener);

}  // namespace download
