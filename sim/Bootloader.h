// The unit's bootloader side: the raw image stream (counted and hashed, CTS dropped after a
// quiet gap) and the erase handshake (0x07 0x06 at 115 200 baud, answered when the erase
// is over, with the faults a field unit has shown).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/Json.h"
#include "sim/Sha256.h"

namespace sim {

constexpr uint8_t kEraseRequest0 = 0x07;
constexpr uint8_t kEraseRequest1 = 0x06;

// One image as the unit saw it.
struct ImageReport {
    bool present = false;
    uint64_t bytes = 0;         // bytes that arrived at the unit's speed
    uint64_t garbledBytes = 0;  // bytes sent at another speed or framing (noise to the unit)
    std::string sha256;         // of the good bytes, in order
    uint32_t unitBaud = 0;
    std::map<uint32_t, uint64_t> bytesByBaud;  // what the PC's port was set to
    uint64_t startMs = 0;
    uint64_t endMs = 0;  // time of the last byte
    bool finished = false;

    Json toJson() const;
};

class ImageReceiver {
public:
    void start(uint64_t nowMs, uint32_t unitBaud);
    void addGood(const uint8_t* data, size_t size, uint32_t pcBaud, uint64_t nowMs);
    void addGarbled(size_t size, uint32_t pcBaud, uint64_t nowMs);
    // True once, when the quiet gap has passed after the last byte and no byte from the PC
    // waits unread: a unit that wakes late reads late, it does not take the wait for a gap.
    bool finishIfQuiet(uint64_t nowMs, uint32_t quietGapMs, size_t bytesWaiting);

    bool active() const { return active_; }
    uint64_t lastByteMs() const { return report_.endMs; }
    const ImageReport& report() const { return report_; }
    // The digest of the good bytes so far (the report's is set when the image finishes).
    std::string digest() const { return hash_.hexDigest(); }
    void clear() {
        active_ = false;
        report_ = ImageReport();
    }

private:
    bool active_ = false;
    Sha256 hash_;
    ImageReport report_;
};

enum class EraseFault { None, WrongPairFirst, StrayByte, Never };
bool parseEraseFault(const std::string& name, EraseFault& out);
const char* eraseFaultName(EraseFault fault);

// The erase: started by a request, answered when the erase time is over.
class EraseHandshake {
public:
    void begin(uint64_t nowMs, uint32_t durationMs, EraseFault fault);
    // The unit was switched off or changed mode: the erase stops, unanswered.
    void abort() { erasing_ = false; }
    // When the erase is over: the bytes to answer with (empty for the "never" fault) and true.
    bool finishIfDone(uint64_t nowMs, std::vector<uint8_t>& reply);

    bool erasing() const { return erasing_; }
    uint64_t doneAtMs() const { return doneAtMs_; }
    uint64_t requests() const { return requests_; }
    uint64_t completed() const { return completed_; }

private:
    bool erasing_ = false;
    uint64_t doneAtMs_ = 0;
    EraseFault fault_ = EraseFault::None;
    uint64_t requests_ = 0;
    uint64_t completed_ = 0;
};

}  // namespace sim
