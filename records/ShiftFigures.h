// A station's figures for its shift, as its web board charts them: units loaded per hour of
// the shift, failures per port and per reason. Worked out by SQL in the records file, over
// the start-time index and never more than kShiftRowsMost rows a request, so that what one
// request costs grows neither with the file nor with the browsers asking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace records {

// The most rows one request reads: the newest of a longer shift's rows.
inline constexpr size_t kShiftRowsMost = 100000;

struct ShiftFigures {
    std::vector<uint64_t> loadedPerHour;  // by the hour of the shift the load ended in (0: the first)
    std::map<std::string, uint64_t> failuresByPort;
    std::map<std::string, uint64_t> failuresByReason;  // the reason, or the result when none was given
    uint64_t rows = 0;                                 // the rows the figures come from
    bool capped = false;                               // the shift has more rows than were read
};

}  // namespace records
