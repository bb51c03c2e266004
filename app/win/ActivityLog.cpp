// The activity log: lines go straight into list 1002 of the main dialog, which is the only
// copy. Every operation tolerates a dialog without that list (the operator template).
#include "app/win/ActivityLog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/DialogIds.h"
#include "app/LogExport.h"

namespace {

constexpr std::size_t kNotepadCommandBytes = 512;  // "notepad " and a full path always fit
constexpr int kExtentPaddingPixels = 8;            // keeps the last glyph clear of the border

void StartNotepad(const char* commandLine) {
    WinExec(commandLine, SW_SHOWNORMAL);  // result ignored: the file stays for the operator
}
ExportLauncher Launcher = StartNotepad;

// Lets the horizontal scroll bar reach the end of the widest line so far.
void WidenForLine(HWND list, const char* line) {
    HDC dc = GetDC(list);
    if (dc == nullptr) return;
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0));
    HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
    SIZE size{};
    GetTextExtentPoint32A(dc, line, static_cast<int>(std::strlen(line)), &size);
    if (previous != nullptr) SelectObject(dc, previous);
    ReleaseDC(list, dc);
    const LRESULT wanted = size.cx + kExtentPaddingPixels;
    if (wanted > SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0))
        SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(wanted), 0);
}

}  // namespace

// Sent, not posted, so a worker's line is in the list when the call returns.
void AddLogListLine(HWND dialog, const char* line) {
    HWND list = GetDlgItem(dialog, IDC_LOG_LIST);
    if (list == nullptr) return;
    LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    if (index == LB_ERR || index == LB_ERRSPACE) return;
    SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
    WidenForLine(list, line);
}

namespace {

bool DirectoryExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string CurrentDirectory() {
    char directory[MAX_PATH] = {};
    DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
    return (length == 0 || length >= sizeof directory) ? std::string(".") : std::string(directory);
}

TempNameSequence& ExportNames() {
    static TempNameSequence names;  // the number carries on for the life of the process
    return names;
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

}  // namespace

void ClearLog(HWND window) {
    HWND list = GetDlgItem(window, IDC_LOG_LIST);
    if (list != nullptr) PostMessageA(list, LB_RESETCONTENT, 0, 0);
}

void ExportLog(HWND list, int selectedOnly) {
    TempNameFileSystem fs{DirectoryExists, PathExists};
    const char* tmp = std::getenv("TMP");
    std::string directory = ChooseTempDirectory(tmp, CurrentDirectory(), fs);
    std::optional<std::string> name = ExportNames().Next(directory, fs);
    if (!name) {
        MessageBeep(0);
        return;
    }
    // Text mode: each "\n" is stored as CR LF.
    std::unique_ptr<FILE, FileCloser> file(std::fopen(name->c_str(), "w"));
    if (!file) {
        MessageBeep(0);
        return;
    }
    char command[kNotepadCommandBytes];
    std::snprintf(command, sizeof command, "notepad %s", name->c_str());

    std::size_t capacity = kExportBufferStartBytes;
    auto buffer = std::make_unique<char[]>(capacity);
    LRESULT count = list != nullptr ? SendMessageA(list, LB_GETCOUNT, 0, 0) : 0;
    for (LRESULT i = 0; i < count; ++i) {
        if (selectedOnly && SendMessageA(list, LB_GETSEL, static_cast<WPARAM>(i), 0) <= 0) continue;
        LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length == LB_ERR) continue;
        std::size_t needed = static_cast<std::size_t>(length) + kExportLineExtraBytes;
        std::size_t grown = GrowExportCapacity(capacity, needed);
        if (grown != capacity) {
            capacity = grown;
            buffer = std::make_unique<char[]>(capacity);  // old contents are not needed
        }
        LRESULT fetched =
            SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer.get()));
        if (fetched == LB_ERR) continue;
        // Written as it stands: a "%" in the line is never taken as a format.
        std::fputs(buffer.get(), file.get());
        std::fputs("\n", file.get());
    }
    buffer.reset();
    file.reset();
    Launcher(command);
}

void SetExportLauncher(ExportLauncher launcher) { Launcher = launcher != nullptr ? launcher : StartNotepad; }
