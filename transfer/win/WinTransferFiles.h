// The transfer engine's file operations on Win32 (temporary file, replace, temporary folder),
// for the dialog and for varnex.exe.
#pragma once
#include <windows.h>

#include "transfer/TransferEngine.h"

transfer::TransferFiles& WinTransferFiles();
