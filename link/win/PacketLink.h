// The packet link's comm-event-thread side: received bytes go to the frame assembler that the
// transfer engine owns, and each complete frame is posted to the dialog as a heap record.
#pragma once
#include <windows.h>

#include <cstdint>

#include "link/PacketReceiver.h"
#include "link/PacketRecord.h"

// The assembler the bytes go to and the tick source it is fed from (the engine's clock);
// set once before the port opens. With none set, received bytes are dropped.
using TickSource = uint32_t (*)();
void SetFrameAssembler(PacketReceiver* receiver, TickSource now);

// Consumes the first count bytes of ReceiveChunk; posts WM_PACKET_RECEIVED per frame with a
// heap PacketRecord that the dialog releases (DispatchPacket).
int RS232_ReceiveBytes(HWND window, int count);
