// Sending and resending on the port, and the give-up after too many resends of one packet.
// Each frame goes out as two waited writes (header, then payload), so WriteOverlapped is
// never in use twice and the header always precedes its payload.
#include <windows.h>

#include "common/win/ActivityLog.h"
#include "link/LinkState.h"
#include "link/win/PacketLink.h"
#include "serial/win/CommEventThread.h"
#include "serial/win/CommPort.h"
#include "transfer/ReportTexts.h"
#include "transfer/win/TransferSession.h"

namespace {

constexpr UINT kDefaultBeep = 0;
PacketSender Sender;

// One write, waited for; its failures are not passed on (the reply timeout recovers).
void WriteAndWait(const void* bytes, DWORD count) {
    SetLastError(ERROR_SUCCESS);
    DWORD written = 0;
    WriteFile(CommPortHandle.load(), bytes, count, &written, &WriteOverlapped);
    WaitCommWrite(&WriteOverlapped);
}

void WriteLastPacket() {
    const PacketHeader& header = Sender.Header();
    WriteAndWait(&header, kHeaderSize);
    if (header.length > 0) WriteAndWait(Sender.PayloadCopy(), header.length);
    Sender.MarkSent(GetTickCount());
}

void GiveUp(HWND window) {
    const bool wasActive = TransferActive == 1;
    LinkState.store(LINK_IDLE);
    EndTransferSession(window);  // TransferActive 0, bar destroyed, caption restored
    MessageBeep(kDefaultBeep);
    // The abandoned transfer's file is closed too, so nothing stays open or half-written
    // behind a session that no longer runs.
    if (wasActive) CloseSessionFile(TransferSession.kind);
    ReportSessionResult(window, ReportOperation::RetryExhausted, kRetryErrorText);
}

}  // namespace

PacketSender& LastPacket() { return Sender; }

int RS232_SendPacket(uint16_t command, const void* payload, uint16_t length) {
    Sender.BeginNewPacket(command, static_cast<const uint8_t*>(payload), length);
    LinkState.store(LINK_AWAITING_REPLY);  // before the first write, never after it
    WriteLastPacket();
    return 1;
}

int RS232_ResendPacket(HWND window, int cause) {
    if (Sender.RequestResend(cause) == ResendDecision::GiveUp) {
        GiveUp(window);
        return 1;
    }
    ++RetryCount;
    LinkState.store(LINK_AWAITING_REPLY);
    WriteLastPacket();
    return 1;
}

void RS232_LogLastCommand(HWND window) {
    LogMessage(window, 0, "%s", Sender.LastCommandLine().c_str());
}
