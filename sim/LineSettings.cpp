// Line settings, the unit's view of garbled bytes, and the change bookkeeping.
#include "sim/LineSettings.h"

#include <algorithm>

namespace sim {

std::string LineSettings::describe() const {
    char parity = parityOdd ? 'O' : parityEven ? 'E' : 'N';
    return std::to_string(baud) + " " + std::to_string(dataBits) + parity + std::to_string(stopBits);
}

uint8_t garbleByte(uint8_t byte) {
    uint8_t g = uint8_t(((byte << 3) | (byte >> 5)) ^ 0xA5);
    if (g == byte || g == 0x7E) g = 0xFF;
    if (g == byte) g = 0x00;  // byte was 0xFF
    return g;
}

void LineJudge::observe(const LineSettings& current) {
    if (!seen_) {
        current_ = previous_ = current;
        seen_ = true;
        return;
    }
    if (current == current_) return;
    previous_ = current_;
    current_ = current;
    previousBytes_ = queuedAtLastCheck_;
    ++changes_;
}

size_t LineJudge::takePrevious(size_t n) {
    size_t take = std::min(n, previousBytes_);
    previousBytes_ -= take;
    return take;
}

}  // namespace sim
