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
    ++changes_;
    if (draining_) {
        current_ = current;  // the backlog still belongs to the settings before the first change
        return;
    }
    previous_ = current_;
    current_ = current;
    draining_ = queuedAtLastCheck_ > 0;
}

void LineJudge::afterRead(size_t stillQueued) {
    queuedAtLastCheck_ = stillQueued;
    if (stillQueued == 0) draining_ = false;
}

}  // namespace sim
