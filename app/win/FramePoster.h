// The packet link's receiving side in the dialog: the comm-event thread's bytes go to the
// frame assembler that the transfer engine owns, and each complete frame is posted to the
// dialog as a heap record.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "link/PacketReceiver.h"
#include "link/PacketRecord.h"
#include "serial/ReceivedBytesSink.h"

// Assembles frames from received bytes and posts WM_PACKET_RECEIVED per frame with a heap
// PacketRecord that the dialog releases (DispatchPacket). Runs on the reading thread.
class FramePoster final : public ReceivedBytesSink {
public:
    using TickSource = uint32_t (*)();  // the clock the assembler's timeouts run on
    FramePoster(packetlink::PacketReceiver& assembler, TickSource now) : assembler_(assembler), now_(now) {}

    // The window that gets the frames from now on; with none, frames are assembled and dropped.
    void PostTo(HWND window) { window_.store(window); }
    void Receive(const uint8_t* bytes, size_t count) override;

private:
    packetlink::PacketReceiver& assembler_;
    TickSource now_;
    std::atomic<HWND> window_{nullptr};
};
