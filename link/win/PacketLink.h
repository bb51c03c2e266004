// The packet link as the rest of the program uses it: sending and resending on the UI
// thread, assembling frames on the comm-event thread, checking them and the timeouts.
#pragma once
#include <windows.h>

#include <cstdint>

#include "link/PacketReceiver.h"
#include "link/PacketRecord.h"
#include "link/PacketSender.h"

int RS232_SendPacket(uint16_t command, const void* payload, uint16_t length);
int RS232_ResendPacket(HWND window, int cause);
void RS232_LogLastCommand(HWND window);

// Consumes the first count bytes of ReceiveChunk; posts WM_PACKET_RECEIVED per frame with a
// heap PacketRecord that the dialog releases (DispatchPacket).
int RS232_ReceiveBytes(HWND window, int count);

enum class CheckOutcome { Stop, Handled, Continue };
// Stop: bad checksum, the record is already released. Handled: link commands 1 to 3.
// Continue: for the dispatch table. The caller releases the record unless Stop.
CheckOutcome CheckPacket(HWND window, PacketRecord* record);
void RS232_LogPacket(HWND window, const PacketRecord* record, const char* prefix);
void CheckLinkTimeouts(HWND window);

// The link's two state holders (LastPacket and the working receiver), for the timer step
// and for tests.
PacketSender& LastPacket();
PacketReceiver& LinkReceiver();
