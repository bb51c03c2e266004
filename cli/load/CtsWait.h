// Waiting for a unit to come up in its bootloader menu, which it shows by raising CTS.
// Polls the line on the clock it is given, so tests run it on a fake clock.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/Clock.h"
#include "serial/SerialPort.h"

namespace cli {

// Often enough that the download starts promptly; rare enough to cost nothing.
inline constexpr uint32_t kCtsPollMs = 50;

enum class CtsWaitResult { Ready, TimedOut, PortFailed, Cancelled };

// Returns Ready as soon as CTS is on; TimedOut once limitMs have passed without it;
// PortFailed with *failure set when the line cannot be read; Cancelled when *cancel rises.
CtsWaitResult WaitForCts(serial::SerialPort& port, common::Clock& clock, uint32_t limitMs,
                         const std::atomic<bool>* cancel, serial::PortStatus* failure);

}  // namespace cli
