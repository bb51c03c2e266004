// The numbers of a load's views (see Formats.h).
#include "board/Formats.h"

#include <cstdio>

#include "common/Clock.h"

namespace board {

namespace {
using common::kMsPerSecond;
constexpr uint64_t kSecondsPerMinute = 60;
constexpr uint64_t kSecondsPerHour = 3600;
constexpr double kBytesPerKilobyte = 1000.0;
}  // namespace

std::string FormatRate(double bytesPerSecond) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / kBytesPerKilobyte);
    return text;
}

std::string FormatDuration(uint64_t milliseconds) {
    uint64_t seconds = milliseconds / kMsPerSecond;
    char text[32];
    if (seconds >= kSecondsPerHour) {
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                      static_cast<unsigned long long>(seconds / kSecondsPerHour),
                      static_cast<unsigned long long>(seconds / kSecondsPerMinute % kSecondsPerMinute),
                      static_cast<unsigned long long>(seconds % kSecondsPerMinute));
    } else {
        std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(seconds / kSecondsPerMinute),
                      static_cast<unsigned long long>(seconds % kSecondsPerMinute));
    }
    return text;
}

std::string FormatPercent(uint64_t bytes, uint64_t total) {
    double percent = total == 0 ? 0.0 : 100.0 * static_cast<double>(bytes) / static_cast<double>(total);
    char text[16];
    std::snprintf(text, sizeof text, "%5.1f %%", percent);
    return text;
}

}  // namespace board
