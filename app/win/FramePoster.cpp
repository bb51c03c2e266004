// Frames assembled on the comm-event thread and posted to the dialog as heap records; the
// dialog's thread hands them to the transfer engine, which checks and handles them.
#include "app/win/FramePoster.h"

#include <new>

#include "app/DialogIds.h"

namespace {

// Posts a heap copy of the frame; the dialog owns it from here. If it cannot be posted
// (the window is gone, the queue is full), it is released here instead of leaking.
void PostFrame(const packetlink::PacketRecord& frame, void* context) {
    HWND window = static_cast<HWND>(context);
    if (window == nullptr) return;  // a null window would mean this thread's own queue
    auto* record = new (std::nothrow) packetlink::PacketRecord(frame);
    if (record == nullptr) return;
    if (!PostMessageA(window, WM_PACKET_RECEIVED, 0, reinterpret_cast<LPARAM>(record))) delete record;
}

}  // namespace

void FramePoster::Receive(const uint8_t* bytes, size_t count) {
    if (count == 0) return;
    assembler_.Receive(bytes, count, now_(), PostFrame, window_.load());
}
