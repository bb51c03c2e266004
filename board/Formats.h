// The numbers as every view of a load writes them.
#pragma once

#include <cstdint>
#include <string>

namespace board {

std::string FormatRate(double bytesPerSecond);              // "10.4 kB/s"
std::string FormatDuration(uint64_t milliseconds);          // "0:07", "1:02:03"
std::string FormatPercent(uint64_t bytes, uint64_t total);  // " 49.6 %"

}  // namespace board
