// The wizard's port behind the port interface. Received bytes come from the comm-event
// thread through a single-producer, single-consumer ring: the thread only appends, the
// reader only takes, each side owning its own index, so no lock is needed.
#include "serial/win/CommHandlePort.h"

#include <atomic>

#include "common/win/Handles.h"
#include "serial/win/CommEventThread.h"
#include "serial/win/CommPort.h"

namespace serial::win {

namespace {

constexpr uint32_t kRingBytes = 1024;  // far above what the unit sends while it erases

uint8_t Ring[kRingBytes];
std::atomic<uint32_t> RingHead{0};  // advanced by the comm-event thread only
std::atomic<uint32_t> RingTail{0};  // advanced by the reader only
// Signalled when bytes arrive. Created once and kept, so a hook call that races the end
// of a read never meets a closed handle.
UniqueNullHandle ArrivedEvent;

void TakeReceivedBytes(const uint8_t* bytes, int count) {
    uint32_t head = RingHead.load(std::memory_order_relaxed);
    const uint32_t tail = RingTail.load(std::memory_order_acquire);
    for (int i = 0; i < count && head - tail < kRingBytes; ++i) Ring[head++ % kRingBytes] = bytes[i];
    RingHead.store(head, std::memory_order_release);
    if (count > 0) SetEvent(ArrivedEvent.Get());
}

size_t TakeFromRing(uint8_t* buffer, size_t size) {
    const uint32_t head = RingHead.load(std::memory_order_acquire);
    uint32_t tail = RingTail.load(std::memory_order_relaxed);
    size_t taken = 0;
    while (tail != head && taken < size) buffer[taken++] = Ring[tail++ % kRingBytes];
    RingTail.store(tail, std::memory_order_release);
    return taken;
}

HANDLE OpenHandle() {
    HANDLE port = CommPortHandle.load();
    return port == INVALID_HANDLE_VALUE ? nullptr : port;
}

PortStatus NoPortStatus() { return {PortError::Io, "no port is open"}; }

}  // namespace

bool CommHandlePort::PrepareCommInput() {
    if (!ArrivedEvent) ArrivedEvent = MakeAutoResetEvent();
    return static_cast<bool>(ArrivedEvent);
}

CommHandlePort::CommHandlePort(Input input) : input_(input == Input::FromCommEvents) {
    if (!input_) return;
    RingTail.store(RingHead.load());
    ResetEvent(ArrivedEvent.Get());
    ReceivedBytesHook.store(&TakeReceivedBytes);
}

CommHandlePort::~CommHandlePort() { Close(); }

void CommHandlePort::Close() {
    if (input_) ReceivedBytesHook.store(nullptr);
    input_ = false;
}

PortStatus CommHandlePort::SetBaudRate(uint32_t baudRate) {
    SetCommBaudRate(baudRate);
    return {};
}

PortStatus CommHandlePort::Write(const uint8_t* data, size_t size, uint32_t timeoutMs, size_t* written) {
    *written = 0;
    HANDLE port = OpenHandle();
    if (port == nullptr) return NoPortStatus();
    PortStatus status = writer_.Write(port, data, size, timeoutMs, written);
    if (!status.Ok() && status.error != PortError::TimedOut) status.error = PortError::Io;
    return status;
}

PortStatus CommHandlePort::Drain(uint32_t timeoutMs) {
    HANDLE port = OpenHandle();
    if (port == nullptr) return NoPortStatus();
    PortStatus status = DrainOutput(port, timeoutMs);
    if (!status.Ok() && status.error != PortError::TimedOut) status.error = PortError::Io;
    return status;
}

PortStatus CommHandlePort::Read(uint8_t* buffer, size_t size, uint32_t timeoutMs, size_t* count) {
    *count = 0;
    if (!input_) return {PortError::Io, "received bytes go to the packet link"};
    *count = TakeFromRing(buffer, size);
    if (*count == 0 && timeoutMs > 0) {
        WaitForSingleObject(ArrivedEvent.Get(), timeoutMs);
        *count = TakeFromRing(buffer, size);
    }
    return {};
}

PortStatus CommHandlePort::ReadCts(bool* on) {
    *on = false;
    HANDLE port = OpenHandle();
    if (port == nullptr) return NoPortStatus();
    return ReadCtsLine(port, on);
}

}  // namespace serial::win
