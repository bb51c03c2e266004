// NLEC text tables sent to and fetched from the unit, line by line in text mode, and the
// handlers of the unit's NLEC packets. UI thread only.
#pragma once
#include <windows.h>

#include "link/PacketRecord.h"

// Command 1004 while idle: asks for a file and starts the send; 1 when started.
int SendNlecFile(HWND dialog, int commandId);
// Command 1018: asks where to save the unit's table and starts the fetch; 1 when started.
int GetNlecFile(HWND dialog, int commandId);
// The unit's NLEC packets, codes 5, 6, 7, 8, 16, 17 and 18 (the record stays the caller's).
void HandleNlecPacket(HWND dialog, PacketRecord* record);
