// The unit's own reading and writing of link frames: two 0x7E marks, then checksum, length,
// command and id (16-bit little-endian), then the payload. Written apart from the program's
// link code so that a fault shared by both cannot hide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

constexpr uint8_t kFrameMark = 0x7E;
constexpr size_t kFrameHeaderBytes = 10;
constexpr size_t kMaxPayloadBytes = 512;  // the most a PC-side record can hold

struct WireFrame {
    uint16_t checksum = 0;  // as received
    uint16_t length = 0;
    uint16_t command = 0;
    uint16_t id = 0;
    uint16_t computed = 0;  // the sum this side works out
    std::vector<uint8_t> payload;

    bool checksumOk() const { return checksum == computed; }
};

// Sum modulo 65 536 of the six length/command/id bytes as they go on the wire and of every
// payload byte.
uint16_t frameChecksum(uint16_t length, uint16_t command, uint16_t id, const uint8_t* payload, size_t payloadSize);

// A well-formed frame.
std::vector<uint8_t> encodeFrame(uint16_t command, uint16_t id, const std::vector<uint8_t>& payload);

// A frame with every header field chosen by the caller (for injected faults): the payload
// goes out as given whatever the length says.
std::vector<uint8_t> encodeFrameFields(uint16_t checksum, uint16_t length, uint16_t command, uint16_t id,
                                       const std::vector<uint8_t>& payload);

// Byte-driven frame reader. Once both marks are seen, the next 8 bytes are the header and the
// next length bytes the payload, whatever their values. A frame announcing more than the
// largest payload is dropped at its header and hunting starts again; a frame that stops
// arriving is dropped by abandon().
class FrameDecoder {
public:
    enum class Result { None, Frame, Oversize };

    // Consumes one byte; returns Frame when it completed one (read it with frame()), Oversize
    // when a header announced too long a payload (frame() then holds that header).
    Result push(uint8_t byte);

    const WireFrame& frame() const { return frame_; }
    bool inFrame() const { return state_ != State::Hunting; }
    void abandon() { state_ = State::Hunting; }

private:
    enum class State { Hunting, SecondMark, Header, Payload };

    void finishHeader();

    State state_ = State::Hunting;
    uint8_t header_[8] = {};
    size_t headerCount_ = 0;
    WireFrame frame_;
};

}  // namespace sim
