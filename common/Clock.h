// Time for the engines: a steady millisecond count and a pause, handed to them rather than
// read from the system, so that a test can run a whole download or erase on a fake clock.
#pragma once

#include <cstdint>

namespace common {

inline constexpr uint32_t kMsPerSecond = 1000;

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds from an arbitrary start; never goes back and never wraps.
    virtual uint64_t NowMs() = 0;
    // Lets at least ms milliseconds pass (a fake clock simply advances).
    virtual void SleepMs(uint32_t ms) = 0;
};

// The process's steady clock (std::chrono::steady_clock); safe to share between threads.
Clock& SteadyClock();

}  // namespace common
