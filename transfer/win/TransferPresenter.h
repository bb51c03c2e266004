// The dialog as the presenter of the transfer engine: the service commands choose their
// files and hand them to the engine; received records, the 100 ms tick and the engine's
// events (packets to write, log lines, bar, boxes, captions) pass through here. UI thread.
#pragma once
#include <windows.h>

#include "link/PacketRecord.h"
#include "transfer/SessionCommands.h"
#include "transfer/TransferText.h"

// Handles WM_PACKET_RECEIVED; owns and releases the record. 0 after a bad checksum, else 1.
int DispatchPacket(HWND dialog, PacketRecord* record);
// The status line and the link's timeouts, on every tick of the 100 ms timer.
void UpdateTransferStatus(HWND dialog);
// True while a transfer session runs.
bool TransferSessionActive();

// A start command of this family (commandId, the pressed button): a running session of the
// same family is ended first, with its family's halt line and a beep. True when the command
// goes on to start its own transfer; false when the pressed button was the running session's
// "Stop Transfer", which only stops.
bool EndSessionBeforeStart(HWND dialog, SessionFamily family, int commandId);
void HaltNlecTransfer(HWND dialog);
void SendFixedRequest(HWND dialog);  // command 1003
// Command 1004 while idle and command 1018: ask for the file, then start; 1 when started.
int SendNlecFile(HWND dialog, int commandId);
int GetNlecFile(HWND dialog, int commandId);
// The settings, program and bitmap commands: ask for the file, then start; 1 when started.
int SendTransferFile(HWND dialog, int commandId, const char* logText);
int ReceiveTransferFile(HWND dialog, int commandId, const char* logText);

// Starts the transfer of a start command (1004, 1018, 1021 to 1025) with its file already
// chosen; 1 when started. The commands above call it once the operator has chosen.
int StartChosenFile(HWND dialog, int commandId, const char* path, const char* logText);

// Dialog procedure of template 103, its creation parameter the main dialog to centre on:
// ends with 1 when a non-empty name was confirmed.
INT_PTR CALLBACK PromptProgramName(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The name typed in the prompt, appended to a program receive's opening packet.
extern char ProgramName[kMaxProgramNameLength + 1];
