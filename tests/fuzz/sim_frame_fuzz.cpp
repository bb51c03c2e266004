// Fuzzes the simulated unit's frame decoder with arbitrary line bytes and abandoned frames.
// Every frame it completes must hold what its header announced and the sum worked out over
// it, and must come back unchanged when written again and read by a fresh decoder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sim/WireFrame.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// A control byte with this value makes the decoder give up the frame it is in, as the unit
// does when a frame stops arriving; the byte itself is then also fed.
constexpr uint8_t kAbandonByte = 0xA5;

void CheckFrame(const sim::WireFrame& frame) {
    Check(frame.payload.size() == frame.length);
    Check(frame.length <= sim::kMaxPayloadBytes);
    Check(frame.computed ==
          sim::frameChecksum(frame.length, frame.command, frame.id, frame.payload.data(), frame.payload.size()));
    sim::FrameDecoder again;
    const auto bytes = sim::encodeFrameFields(frame.checksum, frame.length, frame.command, frame.id, frame.payload);
    size_t completed = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (again.push(bytes[i]) != sim::FrameDecoder::Result::Frame) continue;
        ++completed;
        Check(i + 1 == bytes.size());
        const sim::WireFrame& copy = again.frame();
        Check(copy.checksum == frame.checksum && copy.command == frame.command && copy.id == frame.id);
        Check(copy.payload == frame.payload && copy.computed == frame.computed);
    }
    Check(completed == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::FrameDecoder decoder;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == kAbandonByte) decoder.abandon();
        switch (decoder.push(data[i])) {
            case sim::FrameDecoder::Result::Frame: CheckFrame(decoder.frame()); break;
            case sim::FrameDecoder::Result::Oversize:
                Check(decoder.frame().length > sim::kMaxPayloadBytes);
                Check(!decoder.inFrame());
                break;
            case sim::FrameDecoder::Result::None: break;
        }
    }
    return 0;
}
