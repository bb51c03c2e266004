// Window lookup and control reading for the driver. Every message to the program goes
// through SendMessageTimeout, so a program stuck in a modal loop cannot hang the driver.
#include "tests/harness/driver/Windows.h"

namespace {

constexpr int kMaxTextChars = 65536;

struct EnumState {
    DWORD pid;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
    auto* state = reinterpret_cast<EnumState*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (state->pid == 0 || owner == state->pid) state->windows.push_back(window);
    return TRUE;
}

bool IsButtonClass(const std::string& name) { return _stricmp(name.c_str(), "Button") == 0; }

bool IsStaticClass(const std::string& name) { return _stricmp(name.c_str(), "Static") == 0; }

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0], size, nullptr, nullptr);
    return text;
}

}  // namespace

std::vector<HWND> TopLevelWindows(DWORD pid) {
    EnumState state{pid, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&state));
    return state.windows;
}

HWND FindWindowByTitle(DWORD pid, const std::string& title, int childId) {
    for (HWND window : TopLevelWindows(pid)) {
        if (IsWindowVisible(window) && WindowText(window) == title && (childId == 0 || GetDlgItem(window, childId)))
            return window;
    }
    return nullptr;
}

std::string WindowText(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length)) return {};
    if (length > static_cast<DWORD_PTR>(kMaxTextChars)) length = kMaxTextChars;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                             kMessageTimeoutMs, &copied))
        return {};
    text.resize(static_cast<size_t>(copied));
    return text;
}

std::string ClassName(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::vector<HWND> ChildWindows(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

JsonObject DescribeControl(HWND control) {
    JsonObject reply;
    reply.Add("ok", true).Add("exists", control != nullptr);
    if (!control) return reply;
    std::string cls = ClassName(control);
    reply.Add("text", WindowText(control))
        .Add("class", cls)
        .Add("enabled", IsWindowEnabled(control) != FALSE)
        .Add("visible", IsWindowVisible(control) != FALSE);
    if (IsButtonClass(cls)) {
        DWORD_PTR checked = 0;
        SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &checked);
        reply.Add("checked", static_cast<int>(checked));
    }
    return reply;
}

JsonObject DescribeTopLevel(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    std::vector<std::string> statics;
    std::vector<JsonObject> buttons;
    for (HWND child : ChildWindows(window)) {
        std::string cls = ClassName(child);
        int id = GetDlgCtrlID(child);
        if (IsStaticClass(cls) && IsWindowVisible(child)) {
            std::string text = WindowText(child);
            if (!text.empty()) statics.push_back(text);
        } else if (IsButtonClass(cls) && IsWindowVisible(child)) {
            JsonObject button;
            button.Add("id", id).Add("text", WindowText(child));
            buttons.push_back(button);
        }
    }
    JsonObject reply;
    reply.Add("hwnd", static_cast<long long>(reinterpret_cast<UINT_PTR>(window)))
        .Add("title", WindowText(window))
        .Add("class", ClassName(window))
        .Add("pid", static_cast<long long>(pid))
        .Add("visible", IsWindowVisible(window) != FALSE)
        .Add("statics", statics)
        .AddObjects("buttons", buttons);
    return reply;
}

bool ListBoxItems(HWND list, std::vector<std::string>& items, std::vector<std::string>& selected) {
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutA(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &count)) return false;
    if (static_cast<LRESULT>(count) == LB_ERR) return false;
    for (DWORD_PTR i = 0; i < count; ++i) {
        // Wide messages: Wine's ANSI conversion of a cross-process LB_GETTEXT writes wide
        // characters into the caller's buffer, so the text is fetched wide and converted here.
        DWORD_PTR length = 0;
        SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length);
        if (static_cast<LRESULT>(length) == LB_ERR) length = 0;
        std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
        DWORD_PTR copied = 0;
        SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&wide[0]), SMTO_ABORTIFHUNG,
                            kMessageTimeoutMs, &copied);
        if (static_cast<LRESULT>(copied) == LB_ERR) copied = 0;
        if (copied > length) copied = length;
        wide.resize(static_cast<size_t>(copied));
        std::string text = Narrow(wide);
        items.push_back(text);
        DWORD_PTR isSelected = 0;
        SendMessageTimeoutA(list, LB_GETSEL, i, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &isSelected);
        if (static_cast<LRESULT>(isSelected) > 0) selected.push_back(std::to_string(i));
    }
    return true;
}

HWND FindDialogWithChild(DWORD pid, HWND mainDialog, int childId) {
    for (HWND window : TopLevelWindows(pid)) {
        if (window == mainDialog || !IsWindowVisible(window)) continue;
        if (GetDlgItem(window, childId)) return window;
    }
    return nullptr;
}

void PressButton(HWND dialog, int buttonId) {
    HWND button = GetDlgItem(dialog, buttonId);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

bool Sync(HWND window) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &ignored) != 0;
}
