// The one transfer session, the two file holders, the result reporters and the file
// dialogs that the NLEC and file transfers share. UI thread only.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "transfer/ReportTexts.h"

enum TransferKindValue : int { KIND_BINARY = 9, KIND_BITMAP = 24, KIND_SETTINGS = 25, KIND_PROGRAM = 26 };
enum SessionKind : int {
    SESSION_NONE = 0,
    SESSION_SEND_NLEC = 1,
    SESSION_GET_NLEC = 2,
    SESSION_SEND_FILE = 3,
    SESSION_RECEIVE_FILE = 4,
};

inline constexpr int kSavedCaptionSize = 128;  // 127 characters and the terminator
inline constexpr int kFileNameSize = 256;
inline constexpr const char kStopTransferCaption[] = "Stop Transfer";

class ResultReporter {
public:
    virtual ~ResultReporter() = default;
    virtual void ReportRetryExhausted(HWND window, const char* caption, const char* text) = 0;
    virtual void ReportReceiveComplete(HWND window, const char* caption, const char* text) = 0;
    virtual void ReportSendVerified(HWND window, const char* caption, const char* text) = 0;
    virtual void ReportFailure(HWND window, const char* caption, const char* text) = 0;
};

struct TransferSessionRecord {
    int kind;
    uint32_t startTick;
    ResultReporter* reporter;
    const char* title;
    HWND button;
    char savedCaption[kSavedCaptionSize];
};

extern int TransferKind;
extern TransferSessionRecord TransferSession;
extern int TransferActive;
extern int RetryCount;

// An open-file holder. The file is closed when the program ends.
struct FileHolder {
    FILE* file = nullptr;
    char name[kFileNameSize] = {};
    uint16_t sum = 0;
    int32_t count = 0;
    // Where the bitmap send keeps its intermediate binary file; Close deletes it when it
    // closes an open file while TransferKind is KIND_BITMAP. Empty: nothing to delete.
    char bitmapPath[MAX_PATH] = {};

    // Closes the open file, if any, and marks none (see bitmapPath).
    void Close();
    ~FileHolder();
};
extern FileHolder NlecFile;
extern FileHolder TransferFile;

// The two reporters, one instance each for the whole run.
ResultReporter* NlecResultReporter();
ResultReporter* FileResultReporter();

// The shared start steps, taken once the transfer's file is open: RetryCount 0,
// TransferActive 1, the session's button (the item commandId), kind, start tick, reporter,
// saved caption, and "Stop Transfer" on the button. A button still showing "Stop Transfer"
// from an earlier session gets its own caption back first, so no caption is lost.
void BeginTransferSession(HWND dialog, int commandId, int sessionKind, ResultReporter* reporter);
// The shared end steps: TransferActive 0, the progress bar destroyed, the button's caption
// restored. The caller then beeps and reports, in the order of its handler.
void EndTransferSession(HWND dialog);
// Closes the file of the session family that kind names (NLEC: NlecFile, file: TransferFile).
void CloseSessionFile(int sessionKind);
// Reports through the session's reporter, or, when no session has ever started, logs the
// caller's text and shows it in an OK box captioned with the window title.
void ReportSessionResult(HWND dialog, ReportOperation operation, const char* text);

// The common open and save dialogs; 1 when the operator chose a file, 0 on cancel.
int ChooseOpenFile(HWND owner, char* name, DWORD nameSize, const char* filter);
int ChooseSaveFile(HWND owner, char* name, DWORD nameSize, const char* filter);
