// Where the bytes read from a port go, chunk by chunk in the order they arrived. The port
// side knows nothing of what they mean; the receiver (a frame assembler) does.
#pragma once
#include <cstddef>
#include <cstdint>

namespace serial {

class ReceivedBytesSink {
public:
    virtual ~ReceivedBytesSink() = default;
    // Called on the reading thread; the bytes are valid only during the call.
    virtual void Receive(const uint8_t* bytes, size_t count) = 0;
};

}  // namespace serial
