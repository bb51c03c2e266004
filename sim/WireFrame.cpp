// Frame encoding and the unit's byte-driven frame reader.
#include "sim/WireFrame.h"

namespace sim {
namespace {

void putLe16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v & 0xFF));
    out.push_back(uint8_t(v >> 8));
}

uint16_t headerSum(uint16_t length, uint16_t command, uint16_t id) {
    unsigned sum = (length & 0xFF) + (length >> 8) + (command & 0xFF) + (command >> 8) + (id & 0xFF) + (id >> 8);
    return uint16_t(sum);
}

}  // namespace

uint16_t frameChecksum(uint16_t length, uint16_t command, uint16_t id, const uint8_t* payload, size_t payloadSize) {
    uint16_t sum = headerSum(length, command, id);
    for (size_t i = 0; i < payloadSize; ++i) sum = uint16_t(sum + payload[i]);
    return sum;
}

std::vector<uint8_t> encodeFrameFields(uint16_t checksum, uint16_t length, uint16_t command, uint16_t id,
                                       const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> out;
    out.reserve(kFrameHeaderBytes + payload.size());
    out.push_back(kFrameMark);
    out.push_back(kFrameMark);
    putLe16(out, checksum);
    putLe16(out, length);
    putLe16(out, command);
    putLe16(out, id);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::vector<uint8_t> encodeFrame(uint16_t command, uint16_t id, const std::vector<uint8_t>& payload) {
    uint16_t length = uint16_t(payload.size());
    return encodeFrameFields(frameChecksum(length, command, id, payload.data(), payload.size()), length, command, id,
                             payload);
}

void FrameDecoder::finishHeader() {
    frame_.checksum = uint16_t(header_[0] | (header_[1] << 8));
    frame_.length = uint16_t(header_[2] | (header_[3] << 8));
    frame_.command = uint16_t(header_[4] | (header_[5] << 8));
    frame_.id = uint16_t(header_[6] | (header_[7] << 8));
    frame_.computed = headerSum(frame_.length, frame_.command, frame_.id);
    frame_.payload.clear();
}

FrameDecoder::Result FrameDecoder::push(uint8_t byte) {
    switch (state_) {
        case State::Hunting:
            if (byte == kFrameMark) state_ = State::SecondMark;
            return Result::None;
        case State::SecondMark:
            // A failed second mark is dropped, not taken as a new first mark.
            if (byte == kFrameMark) {
                headerCount_ = 0;
                state_ = State::Header;
            } else {
                state_ = State::Hunting;
            }
            return Result::None;
        case State::Header:
            header_[headerCount_++] = byte;
            if (headerCount_ < sizeof header_) return Result::None;
            finishHeader();
            if (frame_.length > kMaxPayloadBytes) {
                state_ = State::Hunting;
                return Result::Oversize;
            }
            if (frame_.length == 0) {
                state_ = State::Hunting;
                return Result::Frame;
            }
            frame_.payload.reserve(frame_.length);
            state_ = State::Payload;
            return Result::None;
        case State::Payload:
            frame_.payload.push_back(byte);
            frame_.computed = uint16_t(frame_.computed + byte);
            if (frame_.payload.size() < frame_.length) return Result::None;
            state_ = State::Hunting;
            return Result::Frame;
    }
    return Result::None;
}

}  // namespace sim
