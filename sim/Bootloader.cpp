// Image counting and the erase handshake.
#include "sim/Bootloader.h"

namespace sim {

Json ImageReport::toJson() const {
    Json j = Json::object();
    j["present"] = present;
    if (!present) return j;
    j["bytes"] = bytes;
    j["sha256"] = sha256;
    j["garbled"] = garbledBytes > 0;
    j["garbled_bytes"] = garbledBytes;
    j["unit_baud"] = unitBaud;
    uint32_t mostBaud = 0;
    uint64_t most = 0;
    Json byBaud = Json::object();
    for (const auto& [baud, count] : bytesByBaud) {
        byBaud[std::to_string(baud)] = count;
        if (count > most) {
            most = count;
            mostBaud = baud;
        }
    }
    j["baud_seen"] = mostBaud;
    j["bytes_by_baud"] = byBaud;
    j["start_ms"] = startMs;
    j["last_byte_ms"] = endMs;
    j["finished"] = finished;
    return j;
}

void ImageReceiver::start(uint64_t nowMs, uint32_t unitBaud) {
    active_ = true;
    hash_.reset();
    report_ = ImageReport();
    report_.present = true;
    report_.unitBaud = unitBaud;
    report_.startMs = report_.endMs = nowMs;
    report_.sha256 = hash_.hexDigest();
}

void ImageReceiver::addGood(const uint8_t* data, size_t size, uint32_t pcBaud, uint64_t nowMs) {
    hash_.update(data, size);
    report_.bytes += size;
    report_.bytesByBaud[pcBaud] += size;
    report_.endMs = nowMs;
}

void ImageReceiver::addGarbled(size_t size, uint32_t pcBaud, uint64_t nowMs) {
    report_.garbledBytes += size;
    report_.bytesByBaud[pcBaud] += size;
    report_.endMs = nowMs;
}

bool ImageReceiver::finishIfQuiet(uint64_t nowMs, uint32_t quietGapMs, size_t bytesWaiting) {
    if (!active_ || bytesWaiting > 0 || nowMs - report_.endMs < quietGapMs) return false;
    active_ = false;
    report_.finished = true;
    report_.sha256 = hash_.hexDigest();
    return true;
}

bool parseEraseFault(const std::string& name, EraseFault& out) {
    if (name == "none") out = EraseFault::None;
    else if (name == "wrong_pair_first") out = EraseFault::WrongPairFirst;
    else if (name == "stray_byte") out = EraseFault::StrayByte;
    else if (name == "never") out = EraseFault::Never;
    else return false;
    return true;
}

const char* eraseFaultName(EraseFault fault) {
    switch (fault) {
        case EraseFault::None: return "none";
        case EraseFault::WrongPairFirst: return "wrong_pair_first";
        case EraseFault::StrayByte: return "stray_byte";
        case EraseFault::Never: return "never";
    }
    return "none";
}

void EraseHandshake::begin(uint64_t nowMs, uint32_t durationMs, EraseFault fault) {
    ++requests_;
    erasing_ = true;
    doneAtMs_ = nowMs + durationMs;
    fault_ = fault;
}

bool EraseHandshake::finishIfDone(uint64_t nowMs, std::vector<uint8_t>& reply) {
    if (!erasing_ || nowMs < doneAtMs_) return false;
    erasing_ = false;
    ++completed_;
    reply.clear();
    // The unit's stray answers come before its proper one, as seen on units in the field.
    switch (fault_) {
        case EraseFault::None: break;
        case EraseFault::WrongPairFirst: reply = {kEraseRequest1, kEraseRequest0}; break;
        case EraseFault::StrayByte: reply = {0x00}; break;
        case EraseFault::Never: return true;
    }
    reply.push_back(kEraseRequest0);
    reply.push_back(kEraseRequest1);
    return true;
}

}  // namespace sim
