// Faults the unit applies to the frames it sends, each armed by rate (seeded, so a run can
// be repeated exactly) or at a chosen frame counted from when it was armed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Json.h"

namespace sim {

enum class FaultKind {
    CorruptByte,  // one byte of checksum, command, id or payload changed
    DropByte,     // one byte after the marks left out
    DropReply,    // the frame not sent at all
    DelayReply,   // the frame held back past the PC's reply timeout
    Noise,        // stray bytes sent before the frame
    LongLength,   // the length field announces more than a payload may hold
    Reply1,       // "bad checksum" sent instead of the frame
    Reply2,       // "timeout" sent instead of the frame
    Error8,       // NLEC error sent instead, and the unit's transfer ended
    Error13,      // file error sent instead, and the unit's transfer ended
    WrongSum,     // the sum echoed at the end of a send is off by one
};

bool parseFaultKind(const std::string& name, FaultKind& out);
const char* faultKindName(FaultKind kind);

constexpr uint32_t kDefaultFaultDelayMs = 800;  // past the PC's 500 ms reply timeout
constexpr uint32_t kDefaultNoiseBytes = 8;
constexpr uint32_t kDefaultLongLength = 600;  // above the 512-byte payload limit

struct FaultRule {
    int id = 0;
    FaultKind kind = FaultKind::CorruptByte;
    int command = -1;    // only frames of this command; -1 for any
    uint64_t at = 0;     // fire at the at-th eligible frame (1 = the next); 0 = by rate
    double rate = 0;     // probability per eligible frame when at is 0
    uint64_t count = 0;  // how many times it may fire; 0 = without limit
    uint32_t delayMs = kDefaultFaultDelayMs;
    uint32_t noiseBytes = kDefaultNoiseBytes;
    bool noiseMarks = false;  // noise may contain frame marks
    uint32_t length = kDefaultLongLength;
    std::string text;   // for the error replies
    uint64_t seen = 0;  // eligible frames since armed
    uint64_t fired = 0;

    Json toJson() const;
};

class FaultInjector {
public:
    explicit FaultInjector(uint64_t seed = 1) { reseed(seed); }

    void reseed(uint64_t seed);
    uint64_t seed() const { return seed_; }
    // Arms a rule from its JSON description; returns its id, or 0 with *error set.
    int add(const Json& rule, std::string& error);
    void clear() { rules_.clear(); }
    bool remove(int id);

    // For a frame of the given command about to be sent: the rule that fires, or null.
    // Wrong sums apply only to the end-of-send echoes (7 and 12).
    const FaultRule* decide(uint16_t command);

    // Deterministic numbers for fault details (positions, noise).
    uint32_t next(uint32_t bound);

    Json describe() const;
    uint64_t applied() const { return applied_; }

private:
    uint64_t nextRaw();

    uint64_t seed_ = 1;
    uint64_t state_ = 1;
    std::vector<FaultRule> rules_;
    int nextId_ = 1;
    uint64_t applied_ = 0;
};

}  // namespace sim
