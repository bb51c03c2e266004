// The packet link as the rest of the program uses it: sending and resending on the UI
// thread, assembling frames on the comm-event thread, checking them and the timeouts.
#pragma once
#include <windows.h>

#include <cstdint>

#include "link/PacketRecord.h"

int RS232_SendPacket(uint16_t command, const void* payload, uint16_t length);
int RS232_ResendPacket(HWND window, int cause);
void RS232_LogLastCommand(HWND window);

// Consumes the first count bytes of ReceiveChunk; posts WM_PACKET_RECEIVED per frame.
int RS232_ReceiveBytes(HWND window, int count);

enum class CheckOutcome { Stop, Handled, Continue };
CheckOutcome CheckPacket(HWND window, PacketRecord* record);
void RS232_LogPacket(HWND window, const PacketRecord* record, const char* prefix);
void CheckLinkTimeouts(HWND window);
