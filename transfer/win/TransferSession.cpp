// Session start and end, the file holders and the two reporters. Reports beep, log and
// show a modal OK box; the NLEC reporter keeps the caller's text, the file reporter picks
// its own by TransferKind.
#include "transfer/win/TransferSession.h"

#include <commdlg.h>

#include <cstring>

#include "common/win/ActivityLog.h"
#include "common/win/ProgressBar.h"
#include "common/Texts.h"

int TransferKind = KIND_BINARY;
TransferSessionRecord TransferSession = {SESSION_NONE, 0, nullptr, kWindowTitle, nullptr, {}};
int TransferActive = 0;
int RetryCount = 0;
FileHolder NlecFile;
FileHolder TransferFile;

namespace {

constexpr UINT kDefaultBeep = 0;
constexpr char kOpenDialogFolder[] = ".\\";
constexpr DWORD kOpenDialogFlags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
constexpr DWORD kSaveDialogFlags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
constexpr char kReceivePrefix[] = "vrx";  // the temporary file's name: vrxNNNN.tmp

void BeepLogAndShow(HWND window, const char* caption, const char* text) {
    MessageBeep(kDefaultBeep);
    LogMessage(window, 0, "%s", text);
    MessageBoxA(window, text, caption, MB_OK);
}

class NlecResultReporterImpl final : public ResultReporter {
public:
    void ReportRetryExhausted(HWND w, const char* caption, const char* text) override {
        BeepLogAndShow(w, caption, NlecReportText(ReportOperation::RetryExhausted, text));
    }
    void ReportReceiveComplete(HWND w, const char* caption, const char* text) override {
        BeepLogAndShow(w, caption, NlecReportText(ReportOperation::ReceiveComplete, text));
    }
    void ReportSendVerified(HWND w, const char* caption, const char* text) override {
        BeepLogAndShow(w, caption, NlecReportText(ReportOperation::SendVerified, text));
    }
    void ReportFailure(HWND w, const char* caption, const char* text) override {
        BeepLogAndShow(w, caption, NlecReportText(ReportOperation::Failure, text));
    }
};

class FileResultReporterImpl final : public ResultReporter {
public:
    void ReportRetryExhausted(HWND w, const char* caption, const char*) override {
        BeepLogAndShow(w, caption, FileReportText(ReportOperation::RetryExhausted, TransferKind));
    }
    void ReportReceiveComplete(HWND w, const char* caption, const char*) override {
        BeepLogAndShow(w, caption, FileReportText(ReportOperation::ReceiveComplete, TransferKind));
    }
    void ReportSendVerified(HWND w, const char* caption, const char*) override {
        BeepLogAndShow(w, caption, FileReportText(ReportOperation::SendVerified, TransferKind));
    }
    void ReportFailure(HWND w, const char* caption, const char*) override {
        BeepLogAndShow(w, caption, FileReportText(ReportOperation::Failure, TransferKind));
    }
};

NlecResultReporterImpl NlecReporterInstance;
FileResultReporterImpl FileReporterInstance;

void RestoreCaptionIfStillStopping(HWND button, const char* savedCaption) {
    if (button == nullptr) return;
    char current[kSavedCaptionSize] = {};
    GetWindowTextA(button, current, kSavedCaptionSize);
    if (std::strcmp(current, kStopTransferCaption) == 0) SetWindowTextA(button, savedCaption);
}

OPENFILENAMEA MakeFileDialog(HWND owner, char* name, DWORD nameSize, const char* filter) {
    OPENFILENAMEA dialog{};
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name;
    dialog.nMaxFile = nameSize;
    return dialog;
}

}  // namespace

ResultReporter* NlecResultReporter() { return &NlecReporterInstance; }
ResultReporter* FileResultReporter() { return &FileReporterInstance; }

int FileHolder::OpenForReceive(const char* mode) {
    Close();
    char folder[MAX_PATH] = {};
    char* filePart = nullptr;
    const DWORD length = GetFullPathNameA(name, sizeof folder, folder, &filePart);
    if (length == 0 || length >= sizeof folder || filePart == nullptr) return 0;
    *filePart = 0;  // the chosen file's folder, so the final move stays on one volume
    if (!GetTempFileNameA(folder, kReceivePrefix, 0, pendingPath)) {
        pendingPath[0] = 0;
        return 0;
    }
    file = std::fopen(pendingPath, mode);
    if (file == nullptr) {
        DeleteFileA(pendingPath);
        pendingPath[0] = 0;
        return 0;
    }
    return 1;
}

DWORD FileHolder::Commit() {
    if (file == nullptr || pendingPath[0] == 0) return ERROR_INVALID_HANDLE;
    DWORD error = ERROR_SUCCESS;
    if (std::fflush(file) != 0 || std::ferror(file)) error = ERROR_WRITE_FAULT;
    if (std::fclose(file) != 0 && error == ERROR_SUCCESS) error = ERROR_WRITE_FAULT;
    file = nullptr;
    if (error == ERROR_SUCCESS &&
        !MoveFileExA(pendingPath, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != ERROR_SUCCESS) DeleteFileA(pendingPath);
    pendingPath[0] = 0;
    return error;
}

void FileHolder::Close() {
    if (file == nullptr) return;
    std::fclose(file);
    file = nullptr;
    if (pendingPath[0] != 0) {
        DeleteFileA(pendingPath);  // the chosen file stays as it was
        pendingPath[0] = 0;
    }
    if (TransferKind == KIND_BITMAP && bitmapPath[0] != 0) DeleteFileA(bitmapPath);  // failure ignored
}

FileHolder::~FileHolder() { Close(); }

void BeginTransferSession(HWND dialog, int commandId, int sessionKind, ResultReporter* reporter) {
    // A button left reading "Stop Transfer" (a session replaced or halted) gets its own
    // caption back before a new caption is saved; otherwise it would keep it for good.
    if (TransferSession.button != nullptr) {
        RestoreCaptionIfStillStopping(TransferSession.button, TransferSession.savedCaption);
    }
    RetryCount = 0;
    TransferActive = 1;
    TransferSession.button = GetDlgItem(dialog, commandId);
    TransferSession.kind = sessionKind;
    TransferSession.startTick = GetTickCount();
    TransferSession.reporter = reporter;
    TransferSession.savedCaption[0] = 0;
    if (TransferSession.button != nullptr) {
        GetWindowTextA(TransferSession.button, TransferSession.savedCaption, kSavedCaptionSize);
        SetWindowTextA(TransferSession.button, kStopTransferCaption);
    }
}

void EndTransferSession(HWND) {
    TransferActive = 0;
    DestroyProgressBar();
    if (TransferSession.button != nullptr) {
        SetWindowTextA(TransferSession.button, TransferSession.savedCaption);
    }
}

void CloseSessionFile(int sessionKind) {
    if (sessionKind == SESSION_SEND_NLEC || sessionKind == SESSION_GET_NLEC) NlecFile.Close();
    if (sessionKind == SESSION_SEND_FILE || sessionKind == SESSION_RECEIVE_FILE) TransferFile.Close();
}

void ReportSessionResult(HWND dialog, ReportOperation operation, const char* text) {
    ResultReporter* reporter = TransferSession.reporter;
    const char* caption = TransferSession.title;
    if (reporter == nullptr) {
        LogMessage(dialog, 0, "%s", text);
        MessageBoxA(dialog, text, caption, MB_OK);
        return;
    }
    switch (operation) {
        case ReportOperation::RetryExhausted: reporter->ReportRetryExhausted(dialog, caption, text); break;
        case ReportOperation::ReceiveComplete: reporter->ReportReceiveComplete(dialog, caption, text); break;
        case ReportOperation::SendVerified: reporter->ReportSendVerified(dialog, caption, text); break;
        case ReportOperation::Failure: reporter->ReportFailure(dialog, caption, text); break;
    }
}

int ChooseOpenFile(HWND owner, char* name, DWORD nameSize, const char* filter) {
    OPENFILENAMEA dialog = MakeFileDialog(owner, name, nameSize, filter);
    dialog.lpstrInitialDir = kOpenDialogFolder;
    dialog.Flags = kOpenDialogFlags;
    return GetOpenFileNameA(&dialog) ? 1 : 0;
}

int ChooseSaveFile(HWND owner, char* name, DWORD nameSize, const char* filter) {
    OPENFILENAMEA dialog = MakeFileDialog(owner, name, nameSize, filter);
    dialog.Flags = kSaveDialogFlags;
    return GetSaveFileNameA(&dialog) ? 1 : 0;
}
