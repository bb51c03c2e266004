// Routing of the main dialog's WM_COMMAND identifiers to the parts that perform them.
#pragma once
#include <windows.h>

class TransferPresenter;

// Runs the action of one command identifier; identifiers without an action are ignored.
void RouteCommand(HWND dialog, int commandId, TransferPresenter& transfers);
