// The wait for a unit's CTS (see CtsWait.h).
#include "cli/load/CtsWait.h"

#include <algorithm>

namespace cli {

CtsWaitResult WaitForCts(serial::SerialPort& port, common::Clock& clock, uint32_t limitMs,
                         const std::atomic<bool>* cancel, serial::PortStatus* failure) {
    const uint64_t start = clock.NowMs();
    for (;;) {
        if (cancel != nullptr && cancel->load()) return CtsWaitResult::Cancelled;
        bool on = false;
        serial::PortStatus status = port.ReadCts(&on);
        if (!status.Ok()) {
            *failure = status;
            return CtsWaitResult::PortFailed;
        }
        if (on) return CtsWaitResult::Ready;
        uint64_t waited = clock.NowMs() - start;
        if (waited >= limitMs) return CtsWaitResult::TimedOut;
        clock.SleepMs(static_cast<uint32_t>(std::min<uint64_t>(kCtsPollMs, limitMs - waited)));
    }
}

}  // namespace cli
