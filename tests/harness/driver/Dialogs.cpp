// Dialog commands of the driver. Clicks are posted, never sent, so that a click that opens
// a modal box returns at once and the next command can work the box.
#include "tests/harness/driver/Dialogs.h"

#include <commctrl.h>

#include "tests/harness/driver/Windows.h"

namespace {

constexpr DWORD kPollMs = 100;
// Ids of the file-name field in the common file dialog: the combo box of the explorer
// style and the plain edit of the old style.
constexpr int kFileNameCombo = 0x47C;
constexpr int kFileNameEdit = 0x480;
// lParam of WM_KEYDOWN / WM_KEYUP: repeat count 1; key-up also sets the previous-state and
// transition bits.
constexpr LPARAM kKeyDownFlags = 1;
constexpr LPARAM kKeyUpFlags = static_cast<LPARAM>(0xC0000001u);

JsonObject Error(const char* text) {
    JsonObject reply;
    return reply.Add("ok", false).Add("error", text);
}

HWND Control(const Program& program, int id) { return program.dialog ? GetDlgItem(program.dialog, id) : nullptr; }

// Polls for a top-level dialog of the program (not the main one) that has child childId.
HWND WaitForDialog(const Program& program, int childId, unsigned long timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND found = FindDialogWithChild(program.pid, program.dialog, childId);
        if (found || GetTickCount() - start >= timeoutMs) return found;
        Sleep(kPollMs);
    }
}

HWND FileNameField(HWND dialog) {
    HWND combo = GetDlgItem(dialog, kFileNameCombo);
    if (combo && IsWindowVisible(combo)) {
        HWND edit = FindWindowExA(combo, nullptr, "Edit", nullptr);
        return edit ? edit : combo;
    }
    return GetDlgItem(dialog, kFileNameEdit);
}

bool SetText(HWND window, const std::string& text) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                               kMessageTimeoutMs, &ignored) != 0;
}

}  // namespace

JsonObject ClickControl(const Program& program, int id) {
    HWND control = Control(program, id);
    if (!control) return Error("no such control");
    if (!IsWindowVisible(control)) return Error("control hidden");
    if (!IsWindowEnabled(control)) return Error("control disabled");
    PostMessageA(control, BM_CLICK, 0, 0);
    JsonObject reply;
    return reply.Add("ok", true);
}

JsonObject PostCommand(const Program& program, int id) {
    if (!program.dialog) return Error("no main dialog");
    PostMessageA(program.dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(program, id)));
    JsonObject reply;
    return reply.Add("ok", true);
}

JsonObject ControlState(const Program& program, int id) {
    if (!program.dialog) return Error("no main dialog");
    return DescribeControl(Control(program, id));
}

JsonObject ListItems(const Program& program, int id) {
    HWND list = Control(program, id);
    if (!list) return Error("no such list");
    std::vector<std::string> items;
    std::vector<std::string> selected;
    if (!ListBoxItems(list, items, selected)) return Error("list does not answer");
    JsonObject reply;
    std::string indices = "[";
    for (size_t i = 0; i < selected.size(); ++i) indices += (i ? "," : "") + selected[i];
    return reply.Add("ok", true).Add("lines", items).AddRaw("selected", indices + "]");
}

JsonObject SetListSelection(const Program& program, int id, bool selected, int index) {
    HWND list = Control(program, id);
    if (!list) return Error("no such list");
    DWORD_PTR result = 0;
    SendMessageTimeoutA(list, LB_SETSEL, selected ? TRUE : FALSE, static_cast<LPARAM>(index), SMTO_ABORTIFHUNG,
                        kMessageTimeoutMs, &result);
    JsonObject reply;
    return reply.Add("ok", static_cast<LRESULT>(result) != LB_ERR);
}

JsonObject ListWindows(const Program& program) {
    std::vector<JsonObject> windows;
    if (program.pid) {
        for (HWND window : TopLevelWindows(program.pid)) {
            if (IsWindowVisible(window)) windows.push_back(DescribeTopLevel(window));
        }
    }
    JsonObject reply;
    return reply.Add("ok", true).AddObjects("windows", windows);
}

JsonObject PressDialogButton(const Program& program, int buttonId, unsigned long timeoutMs) {
    HWND dialog = WaitForDialog(program, buttonId, timeoutMs);
    if (!dialog) return Error("no dialog with that button");
    JsonObject reply = DescribeTopLevel(dialog);
    PressButton(dialog, buttonId);
    return reply.Add("ok", true);
}

JsonObject FillFileDialog(const Program& program, const std::string& path, unsigned long timeoutMs) {
    DWORD start = GetTickCount();
    HWND dialog = nullptr;
    HWND field = nullptr;
    for (;;) {
        dialog = WaitForDialog(program, IDOK, timeoutMs);
        field = dialog ? FileNameField(dialog) : nullptr;
        if (field || GetTickCount() - start >= timeoutMs) break;
        Sleep(kPollMs);
    }
    if (!field) return Error("no file dialog");
    JsonObject reply = DescribeTopLevel(dialog);
    if (!SetText(field, path)) return Error("file name field does not answer");
    PressButton(dialog, IDOK);
    return reply.Add("ok", true);
}

JsonObject FillEditDialog(const Program& program, int editId, int buttonId, bool keepText, const std::string& text,
                          unsigned long timeoutMs) {
    HWND dialog = WaitForDialog(program, editId, timeoutMs);
    if (!dialog) return Error("no dialog with that field");
    HWND edit = GetDlgItem(dialog, editId);
    JsonObject reply = DescribeTopLevel(dialog);
    reply.Add("previous_text", WindowText(edit));
    if (!keepText && !SetText(edit, text)) return Error("field does not answer");
    PressButton(dialog, buttonId);
    return reply.Add("ok", true);
}

JsonObject ProgressState(const Program& program) {
    if (!program.dialog) return Error("no main dialog");
    HWND bar = FindWindowExA(program.dialog, nullptr, PROGRESS_CLASSA, nullptr);
    JsonObject reply;
    reply.Add("ok", true).Add("exists", bar != nullptr);
    if (!bar) return reply;
    // The bar lives in another process: a PBRANGE pointer would be written into the
    // program's own memory at this process's address, so each limit is asked for alone
    // and comes back as the result (wParam TRUE: the low limit, FALSE: the high one).
    DWORD_PTR low = 0;
    DWORD_PTR high = 0;
    DWORD_PTR position = 0;
    SendMessageTimeoutA(bar, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &low);
    SendMessageTimeoutA(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &high);
    SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &position);
    return reply.Add("visible", IsWindowVisible(bar) != FALSE)
        .Add("low", static_cast<long long>(static_cast<int>(low)))
        .Add("high", static_cast<long long>(static_cast<int>(high)))
        .Add("pos", static_cast<long long>(position));
}

JsonObject WatchProgress(const Program& program, unsigned long timeoutMs) {
    if (!program.dialog) return Error("no main dialog");
    // Polled far more often than the driver's commands can come, so that a bar that moves
    // and goes within a fraction of a second still shows each position it took.
    constexpr DWORD kWatchPollMs = 5;
    DWORD_PTR high = 0;
    std::vector<std::string> positions;
    long long last = -1;
    bool seen = false;
    bool gone = false;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        HWND bar = FindWindowExA(program.dialog, nullptr, PROGRESS_CLASSA, nullptr);
        if (bar == nullptr) {
            if (seen) {
                gone = true;
                break;
            }
        } else {
            seen = true;
            DWORD_PTR position = 0;
            if (SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &position) &&
                IsWindow(bar)) {
                // A bar destroyed between the two reads answers nothing: keep the range seen.
                DWORD_PTR range = 0;
                if (SendMessageTimeoutA(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &range) &&
                    IsWindow(bar)) {
                    high = range;
                }
                if (static_cast<long long>(position) != last) {
                    last = static_cast<long long>(position);
                    positions.push_back(std::to_string(last));
                }
            }
        }
        Sleep(kWatchPollMs);
    }
    JsonObject reply;
    return reply.Add("ok", true)
        .Add("seen", seen)
        .Add("gone", gone)
        .Add("high", static_cast<long long>(static_cast<int>(high)))
        .Add("positions", positions);
}

JsonObject WindowGeometry(const Program& program) {
    if (!program.dialog) return Error("no main dialog");
    RECT window{};
    RECT client{};
    GetWindowRect(program.dialog, &window);
    GetClientRect(program.dialog, &client);
    JsonObject reply;
    return reply.Add("ok", true)
        .Add("left", static_cast<long long>(window.left))
        .Add("top", static_cast<long long>(window.top))
        .Add("width", static_cast<long long>(window.right - window.left))
        .Add("height", static_cast<long long>(window.bottom - window.top))
        .Add("client_width", static_cast<long long>(client.right))
        .Add("client_height", static_cast<long long>(client.bottom));
}

JsonObject CloseMainDialog(const Program& program) {
    if (!program.dialog) return Error("no main dialog");
    PostMessageA(program.dialog, WM_CLOSE, 0, 0);
    JsonObject reply;
    return reply.Add("ok", true);
}

JsonObject PressKey(const Program& program, int virtualKey) {
    if (!program.dialog) return Error("no main dialog");
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(program.dialog, nullptr);
    HWND target = GetGUIThreadInfo(thread, &info) && info.hwndFocus ? info.hwndFocus : program.dialog;
    // The dialog's own message loop sees posted keys as typed ones (Esc becomes IDCANCEL).
    PostMessageA(target, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), kKeyDownFlags);
    PostMessageA(target, WM_KEYUP, static_cast<WPARAM>(virtualKey), kKeyUpFlags);
    JsonObject reply;
    return reply.Add("ok", true);
}

JsonObject SyncProgram(const Program& program) {
    if (!program.dialog) return Error("no main dialog");
    JsonObject reply;
    return reply.Add("ok", Sync(program.dialog));
}
