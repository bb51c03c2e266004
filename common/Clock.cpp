// The real clock behind common::Clock: std::chrono's steady clock and a thread sleep.
#include "common/Clock.h"

#include <chrono>
#include <thread>

namespace common {

namespace {

class StdSteadyClock final : public Clock {
public:
    uint64_t NowMs() override {
        auto since = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
    }
    void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

}  // namespace

Clock& SteadyClock() {
    static StdSteadyClock clock;
    return clock;
}

}  // namespace common
