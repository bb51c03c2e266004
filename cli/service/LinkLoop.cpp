// The read-feed-tick loop of a packet-link engine on a port (see LinkLoop.h).
#include "cli/service/LinkLoop.h"

#include <algorithm>

namespace cli {

namespace {

constexpr size_t kReadChunkBytes = 4096;
// The longest one read waits, so Ctrl-C is seen promptly even on a silent line.
constexpr uint32_t kLongestReadWaitMs = kLinkTickMs;

bool Cancelled(const std::atomic<bool>* cancel) { return cancel != nullptr && cancel->load(); }

bool IsPortLost(const serial::PortStatus& status) {
    return status.error == serial::PortError::Gone || status.error == serial::PortError::Io ||
           status.error == serial::PortError::NoSuchPort;
}

}  // namespace

void FrameWriter::Write(const uint8_t* bytes, size_t count) {
    lastWhole_ = false;
    lastStatus_ = gone_;
    if (Gone()) return;
    size_t done = 0;
    while (done < count) {
        size_t written = 0;
        serial::PortStatus status = port_.Write(bytes + done, count - done, kFrameWriteTimeoutMs, &written);
        done += written;
        lastStatus_ = status;
        if (IsPortLost(status)) {
            gone_ = status;
            return;
        }
        if (!status.Ok()) return;  // the line took no more: the engine resends
        if (written == 0) {
            lastStatus_ = {serial::PortError::TimedOut, "the port took none of the bytes"};
            return;
        }
    }
    lastWhole_ = true;
}

LinkLoopResult RunLinkLoop(serial::SerialPort& port, common::Clock& clock, LinkPump& pump,
                           const std::atomic<bool>* cancel) {
    LinkLoopResult result;
    uint8_t chunk[kReadChunkBytes];
    uint64_t nextTickMs = clock.NowMs() + kLinkTickMs;
    while (!pump.Finished()) {
        if (Cancelled(cancel)) {
            result.end = LinkLoopEnd::Cancelled;
            return result;
        }
        uint64_t now = clock.NowMs();
        uint32_t wait =
            now >= nextTickMs ? 0 : static_cast<uint32_t>(std::min<uint64_t>(nextTickMs - now, kLongestReadWaitMs));
        size_t count = 0;
        serial::PortStatus status = port.Read(chunk, sizeof chunk, wait, &count);
        if (!status.Ok() && status.error != serial::PortError::TimedOut) {
            result.end = LinkLoopEnd::PortFailed;
            result.failure = status;
            return result;
        }
        if (count > 0) pump.Feed(chunk, count);
        now = clock.NowMs();
        if (now >= nextTickMs && !pump.Finished()) {
            pump.Tick();
            nextTickMs = now + kLinkTickMs;
        }
    }
    return result;
}

}  // namespace cli
