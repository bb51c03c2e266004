// A line of units on one port: the simulated unit comes up in its bootloader menu (CTS up),
// takes an image, drops CTS as the real unit does, and after a gap comes up again as the
// next unit, N times. Each unit may fail in a chosen way: never confirming (CTS stays up
// after the image until it is switched off) or going off mid-image. It keeps what each unit
// received, for tests to check against the loader's records.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/Bootloader.h"
#include "sim/Json.h"

namespace sim {

class Unit;

// A unit shows its count this long, CTS down, before the next unit is plugged in.
constexpr uint32_t kDefaultLineGapMs = 2000;
// A unit that never confirms keeps CTS up this long after its image, then is switched off.
constexpr uint32_t kDefaultNoConfirmHoldMs = 35000;

enum class LineFault { None, NeverConfirm, DropMidImage };

struct LineUnitFault {
    LineFault kind = LineFault::None;
    uint64_t atBytes = 0;  // DropMidImage: goes off once this many bytes have arrived
};

struct LineConfig {
    uint32_t units = 0;  // 0: not a line, one unit as before
    uint32_t gapMs = kDefaultLineGapMs;
    uint32_t holdMs = kDefaultNoConfirmHoldMs;
    std::map<uint32_t, LineUnitFault> faults;  // by unit number, from 1
};

// "3:drop_mid_image:100000" or "2:never_confirm" into faults; false with *error otherwise.
bool parseLineFault(const std::string& text, LineConfig& config, std::string& error);

class UnitLine {
public:
    explicit UnitLine(const LineConfig& config) : config_(config) {}
    bool active() const { return config_.units > 0; }
    // Whether the unit drops CTS when an image is over (not one that never confirms).
    bool dropsCtsAfterImage() const;
    // The first unit comes up; called when the unit starts or is reset.
    void start(uint64_t nowMs);
    void tick(Unit& unit, uint64_t nowMs);
    uint64_t nextDeadlineMs() const;
    Json report() const;

private:
    enum class Phase { Present, Holding, Away, Over };
    const LineUnitFault& faultOf(uint32_t unit) const;
    void leave(Unit& unit, uint64_t nowMs, const ImageReport& image, bool off);

    LineConfig config_;
    Phase phase_ = Phase::Over;
    uint32_t current_ = 0;
    uint64_t presentSinceMs_ = 0;
    uint64_t dueMs_ = 0;  // Holding: when it is switched off; Away: when the next one comes
    ImageReport held_;    // the image of a unit that holds CTS up
    std::vector<Json> history_;
};

}  // namespace sim
