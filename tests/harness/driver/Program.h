// The program under test, as the driver sees it: the process it launched (or found) and
// its main dialog.
#pragma once
#include <windows.h>

#include <string>

#include "common/win/Handles.h"
#include "tests/harness/driver/Json.h"

struct Program {
    DWORD pid = 0;  // 0 until launched or found
    common::win::UniqueNullHandle process;
    HWND dialog = nullptr;  // the main dialog once found
};

JsonObject LaunchProgram(Program& program, const std::string& commandLine);
JsonObject WaitProgramExit(Program& program, DWORD timeoutMs);
JsonObject KillProgram(Program& program);
JsonObject FindMainDialog(Program& program, const std::string& title, DWORD timeoutMs);
