// The receiving side: frames assembled on the comm-event thread and posted as heap records,
// their check on the UI thread, the received-packet log line and the timer step's resends.
#include <windows.h>

#include <new>

#include "common/DialogIds.h"
#include "common/win/ActivityLog.h"
#include "link/LinkState.h"
#include "link/LinkTimeouts.h"
#include "link/PacketLogLine.h"
#include "link/win/PacketLink.h"
#include "serial/win/CommEventThread.h"
#include "transfer/CommandCodes.h"

namespace {

PacketReceiver Receiver(LinkState);

// Posts a heap copy of the frame; the dialog owns it from here. If it cannot be posted
// (the window is gone, the queue is full), it is released here instead of leaking.
void PostFrame(const PacketRecord& frame, void* context) {
    HWND window = static_cast<HWND>(context);
    PacketRecord* record = new (std::nothrow) PacketRecord(frame);
    if (record == nullptr) return;
    if (!PostMessageA(window, WM_PACKET_RECEIVED, 0, reinterpret_cast<LPARAM>(record))) delete record;
}

// The link as it stands, read by the timer step in its own order.
class LiveTimeoutInputs final : public LinkTimeoutInputs {
public:
    int LinkStateNow() override { return LinkState.load(); }
    uint32_t LastByteTick() override { return Receiver.LastByteTick(); }
    uint32_t LastSendTick() override { return LastPacket().LastSendTick(); }
    uint32_t NowTick() override { return GetTickCount(); }
};

}  // namespace

PacketReceiver& LinkReceiver() { return Receiver; }

int RS232_ReceiveBytes(HWND window, int count) {
    if (count <= 0) return 1;
    if (count > static_cast<int>(sizeof ReceiveChunk)) count = sizeof ReceiveChunk;
    Receiver.Receive(ReceiveChunk, static_cast<size_t>(count), GetTickCount(), PostFrame, window);
    return 1;
}

CheckOutcome CheckPacket(HWND window, PacketRecord* record) {
    if (record->receivedChecksum != record->computedChecksum) {
        LogMessage(window, 0, "Receive Packet has bad checksum.");
        RS232_ResendPacket(window, LOCAL_CHECKSUM);
        delete record;
        return CheckOutcome::Stop;
    }
    switch (record->command) {
        case RS232_CMD_BAD_CHECKSUM:
            LogMessage(window, 0, "ERROR RS232_CMD_BAD_CHECKSUM: ");
            RS232_ResendPacket(window, REMOTE_CHECKSUM);
            return CheckOutcome::Handled;
        case RS232_RESEND_REMOTE_TIMEOUT:
            LogMessage(window, 0, "ERROR RS232_RESEND_REMOTE_TIMEOUT: ");
            RS232_ResendPacket(window, REMOTE_TIMEOUT);
            return CheckOutcome::Handled;
        case RS232_CMD_LOG:
            RS232_LogPacket(window, record, "LOG: ");
            return CheckOutcome::Handled;
        default:
            return CheckOutcome::Continue;
    }
}

void RS232_LogPacket(HWND window, const PacketRecord* record, const char* prefix) {
    LogMessage(window, 0, "%s", FormatPacketLine(*record, prefix).c_str());
}

void CheckLinkTimeouts(HWND window) {
    LiveTimeoutInputs inputs;
    const TimeoutAction action = ReadLinkTimeout(inputs);
    if (action == TimeoutAction::None) return;
    Receiver.ResetAssembly();
    LinkState.store(LINK_IDLE);
    LogMessage(window, 0, "%s", TimeoutLine(action));
    RS232_ResendPacket(window, LOCAL_TIMEOUT);
}
