// Starting, finding and ending the program under test. The driver starts it itself, so no
// second Wine process has to start while the program is still booting.
#include "tests/harness/driver/Program.h"

#include "app/DialogIds.h"
#include "tests/harness/driver/Windows.h"

using common::win::UniqueNullHandle;

namespace {
constexpr DWORD kFindPollMs = 100;
}

JsonObject LaunchProgram(Program& program, const std::string& commandLine) {
    JsonObject reply;
    program = Program{};
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string mutableLine = commandLine;
    if (!CreateProcessA(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return reply.Add("ok", false).Add("win32_error", static_cast<long long>(GetLastError()));
    }
    UniqueNullHandle thread(info.hThread);
    program.process.Reset(info.hProcess);
    program.pid = info.dwProcessId;
    return reply.Add("ok", true).Add("pid", static_cast<long long>(program.pid));
}

JsonObject WaitProgramExit(Program& program, DWORD timeoutMs) {
    JsonObject reply;
    if (!program.process) return reply.Add("ok", false).Add("error", "no program launched");
    DWORD result = WaitForSingleObject(program.process.Get(), timeoutMs);
    DWORD code = 0;
    GetExitCodeProcess(program.process.Get(), &code);
    reply.Add("ok", true).Add("exited", result == WAIT_OBJECT_0);
    if (result == WAIT_OBJECT_0) reply.Add("code", static_cast<long long>(code));
    return reply;
}

JsonObject KillProgram(Program& program) {
    JsonObject reply;
    if (!program.process) return reply.Add("ok", true).Add("killed", false);
    BOOL killed = TerminateProcess(program.process.Get(), 1);
    WaitForSingleObject(program.process.Get(), INFINITE);
    program = Program{};
    return reply.Add("ok", true).Add("killed", killed != FALSE);
}

JsonObject FindMainDialog(Program& program, const std::string& title, DWORD timeoutMs) {
    JsonObject reply;
    DWORD start = GetTickCount();
    for (;;) {
        // Message boxes carry the main dialog's title, and one just pressed may still be
        // showing: only the window holding the wizard's title line is the main dialog.
        HWND found = FindWindowByTitle(program.pid, title, IDC_TITLE_TEXT);
        if (found) {
            program.dialog = found;
            DWORD pid = 0;
            GetWindowThreadProcessId(found, &pid);
            if (program.pid == 0) program.pid = pid;
            return reply.Add("ok", true)
                .Add("hwnd", static_cast<long long>(reinterpret_cast<UINT_PTR>(found)))
                .Add("pid", static_cast<long long>(pid));
        }
        if (program.process && WaitForSingleObject(program.process.Get(), 0) == WAIT_OBJECT_0)
            return reply.Add("ok", false).Add("error", "program exited");
        if (GetTickCount() - start >= timeoutMs) return reply.Add("ok", false).Add("error", "timeout");
        Sleep(kFindPollMs);
    }
}
