// Settings, program and bitmap files sent to the unit in 128-byte chunks, settings and
// program files received from it, the program-name prompt, and the unit's file packets.
// UI thread only.
#pragma once
#include <windows.h>

#include "link/PacketRecord.h"
#include "transfer/TransferText.h"

// Commands 1021, 1023, 1025 (others send a binary file); 1 when the send has started.
int SendTransferFile(HWND dialog, int commandId, const char* logText);
// Commands 1022 and 1024 (others receive a binary file); 1 when the receive has started.
int ReceiveTransferFile(HWND dialog, int commandId, const char* logText);
// The receive once its file is chosen (TransferKind and TransferFile's name set): opens the
// temporary file, starts the session and asks the unit for the file; 1 when it has started.
int BeginFileReceive(HWND dialog, int commandId, const char* logText);
// Ends the running file session at the operator's request: file closed (a receive leaves the
// chosen file as it was), link idle, bar removed, caption back, the kind's halt line, a beep.
// The unit is sent nothing.
void StopFileTransfer(HWND dialog);
// Sums and counts the bytes of TransferFile's open file, then rewinds it; 0 on a read error.
int ComputeSumAndCount();
// Sends the opening packet "kind,sum,count," of a file send.
void SendOpeningPacket(HWND dialog);
// Dialog procedure of template 103, its creation parameter the main dialog to centre on:
// ends with 1 when a non-empty name was confirmed.
INT_PTR CALLBACK PromptProgramName(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The name typed in the prompt, appended to a program receive's opening packet.
extern char ProgramName[kMaxProgramNameLength + 1];
// The unit's file packets, codes 10, 11, 12, 13, 20, 21 and 22 (the record stays the caller's).
void HandleFilePacket(HWND dialog, PacketRecord* record);
