// Every packet from the unit, by its command code; the operator's halt of an NLEC transfer;
// the fixed request (command 1003); and the transfer tick of the 100 ms timer.
#pragma once
#include <windows.h>

#include "link/PacketRecord.h"
#include "transfer/SessionCommands.h"

// The fixed code of six decimal digits that command 1003 sends (no terminator on the wire).
inline constexpr char kFixedRequestCode[] = "731942";

// Handles WM_PACKET_RECEIVED; owns and releases the record. 0 after a bad checksum, else 1.
int DispatchPacket(HWND dialog, PacketRecord* record);
void HaltNlecTransfer(HWND dialog);
// A start command of this family (commandId, the pressed button): a running session of the
// same family is ended first, with its family's halt line and a beep. True when the command
// goes on to start its own transfer; false when the pressed button was the running session's
// "Stop Transfer", which only stops.
bool EndSessionBeforeStart(HWND dialog, SessionFamily family, int commandId);
void SendFixedRequest(HWND dialog);  // command 1003
void UpdateTransferStatus(HWND dialog);
