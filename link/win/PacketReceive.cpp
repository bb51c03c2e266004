// Frames assembled on the comm-event thread and posted to the dialog as heap records; the
// dialog's thread hands them to the transfer engine, which checks and handles them.
#include <windows.h>

#include <atomic>
#include <new>

#include "common/DialogIds.h"
#include "link/win/PacketLink.h"
#include "serial/win/CommEventThread.h"

namespace {

std::atomic<PacketReceiver*> Assembler{nullptr};
std::atomic<TickSource> AssemblerTicks{nullptr};

// Posts a heap copy of the frame; the dialog owns it from here. If it cannot be posted
// (the window is gone, the queue is full), it is released here instead of leaking.
void PostFrame(const PacketRecord& frame, void* context) {
    HWND window = static_cast<HWND>(context);
    PacketRecord* record = new (std::nothrow) PacketRecord(frame);
    if (record == nullptr) return;
    if (!PostMessageA(window, WM_PACKET_RECEIVED, 0, reinterpret_cast<LPARAM>(record))) delete record;
}

}  // namespace

void SetFrameAssembler(PacketReceiver* receiver, TickSource now) {
    AssemblerTicks.store(now);
    Assembler.store(receiver);
}

int RS232_ReceiveBytes(HWND window, int count) {
    PacketReceiver* receiver = Assembler.load();
    TickSource now = AssemblerTicks.load();
    if (count <= 0 || receiver == nullptr || now == nullptr) return 1;
    if (count > static_cast<int>(sizeof ReceiveChunk)) count = sizeof ReceiveChunk;
    receiver->Receive(ReceiveChunk, static_cast<size_t>(count), now(), PostFrame, window);
    return 1;
}
