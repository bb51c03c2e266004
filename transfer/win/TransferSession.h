// The one transfer session, the two file holders, the result reporters and the file
// dialogs that the NLEC and file transfers share. UI thread only.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdio>

enum TransferKindValue : int { KIND_BINARY = 9, KIND_BITMAP = 24, KIND_SETTINGS = 25, KIND_PROGRAM = 26 };
enum SessionKind : int {
    SESSION_NONE = 0,
    SESSION_SEND_NLEC = 1,
    SESSION_GET_NLEC = 2,
    SESSION_SEND_FILE = 3,
    SESSION_RECEIVE_FILE = 4,
};

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
    char savedCaption[128];
};

extern int TransferKind;
extern TransferSessionRecord TransferSession;
extern int TransferActive;
extern int RetryCount;

struct FileHolder {
    FILE* file = nullptr;
    char name[256] = {};
    uint16_t sum = 0;
    int32_t count = 0;
};
extern FileHolder NlecFile;
extern FileHolder TransferFile;
