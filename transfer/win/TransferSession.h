// The one transfer session, the two file holders, the result reporters and the file
// dialogs that the NLEC and file transfers share. UI thread only.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "transfer/ReportTexts.h"
#include "transfer/SessionCommands.h"

enum TransferKindValue : int { KIND_BINARY = 9, KIND_BITMAP = 24, KIND_SETTINGS = 25, KIND_PROGRAM = 26 };

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

// An open-file holder. The file is closed when the program ends. A receive never writes the
// chosen file itself: it writes a temporary file in the same folder, which replaces the chosen
// file only when the whole transfer has been written (Commit); every other close deletes it,
// so a failed, stopped or abandoned receive leaves the operator's file as it was.
struct FileHolder {
    FILE* file = nullptr;
    char name[kFileNameSize] = {};
    uint16_t sum = 0;
    int32_t count = 0;
    // Where the bitmap send keeps its intermediate binary file; Close deletes it when it
    // closes an open file while TransferKind is KIND_BITMAP. Empty: nothing to delete.
    char bitmapPath[MAX_PATH] = {};
    // The temporary file of a receive; empty when the open file is not a receive's.
    char pendingPath[MAX_PATH] = {};

    // Opens a receive for name: a new temporary file beside it, with the fopen mode given.
    // 0 when it cannot be created (GetLastError or errno tells why).
    int OpenForReceive(const char* mode);
    // Flushes and closes the receive and puts it in name's place. ERROR_SUCCESS, or the error
    // of the step that failed; on failure the temporary file is deleted and name is untouched.
    DWORD Commit();
    // Closes the open file, if any, and marks none (see bitmapPath); a receive's temporary
    // file is deleted.
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
