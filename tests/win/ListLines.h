// Reads every line of a list box, for tests that check what the activity log received.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

inline std::vector<std::string> ListLines(HWND list) {
    std::vector<std::string> lines;
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::string text(static_cast<size_t>(SendMessageA(list, LB_GETTEXTLEN, i, 0)), '\0');
        SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
        lines.push_back(text);
    }
    return lines;
}
