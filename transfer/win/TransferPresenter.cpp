// The dialog's side of the transfer engine: the engine decides, this file shows. Its events
// become the port's writes, log lines, the bar, beeps, boxes and captions; the commands ask
// for their files with the common dialogs first. Every record posted by the comm-event
// thread is released here, exactly once.
#include "transfer/win/TransferPresenter.h"

#include <commdlg.h>

#include <cstdio>
#include <memory>

#include "common/Clock.h"
#include "common/DialogIds.h"
#include "common/win/ActivityLog.h"
#include "common/win/ProgressBar.h"
#include "link/win/PacketLink.h"
#include "serial/win/CommEventThread.h"
#include "serial/win/CommPort.h"
#include "transfer/TransferEngine.h"

namespace {

constexpr UINT kDefaultBeep = 0;
constexpr size_t kStatusLineSize = 96;
constexpr int kCaptionSize = 128;  // 127 characters and the terminator
constexpr DWORD kFileNameSize = 256;
constexpr char kNlecFilter[] = "NLEC Files (*.TXT)\0*.TXT\0ALL Files (*.*)\0*.*\0";
constexpr char kFileFilter[] = "ALL Files (*.*)\0*.*\0";
constexpr char kOpenDialogFolder[] = ".\\";
constexpr DWORD kOpenDialogFlags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
constexpr DWORD kSaveDialogFlags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;

// The names last chosen, offered again by the next file dialog of the same family.
char NlecFileName[kFileNameSize] = {};
char TransferFileName[kFileNameSize] = {};

// One write, waited for; its failures are not passed on (the reply timeout recovers).
void WriteAndWait(const void* bytes, DWORD count) {
    SetLastError(ERROR_SUCCESS);
    DWORD written = 0;
    WriteFile(CommPortHandle.load(), bytes, count, &written, &WriteOverlapped);
    WaitCommWrite(&WriteOverlapped);
}

class DialogTransferListener final : public transfer::TransferListener {
public:
    HWND dialog = nullptr;  // set by every entry point before the engine runs

    // Two waited writes (header, then payload), so WriteOverlapped is never in use twice.
    void SendPacket(const PacketHeader& header, const uint8_t* payload, uint16_t length) override {
        WriteAndWait(&header, kHeaderSize);
        if (length > 0) WriteAndWait(payload, length);
    }
    void Log(const std::string& line, uint32_t osError) override { LogMessage(dialog, osError, "%s", line.c_str()); }
    void AppendLine(const std::string& line) override { AppendLogLine(dialog, line.c_str()); }
    void Beep() override { MessageBeep(kDefaultBeep); }
    void ShowMessage(const std::string& caption, const std::string& text) override {
        MessageBoxA(dialog, text.c_str(), caption.c_str(), MB_OK);
    }
    void ProgressStart(uint32_t maximum, transfer::ProgressScale scale) override {
        CreateProgressBar(dialog, maximum,
                          scale == transfer::ProgressScale::Range32 ? ProgressRange::Range32 : ProgressRange::Range16);
    }
    void ProgressAdvance(uint32_t steps) override { AdvanceProgress(steps); }
    void ProgressEnd() override { DestroyProgressBar(); }
    std::string ButtonCaption(int commandId) override {
        char caption[kCaptionSize] = {};
        HWND button = GetDlgItem(dialog, commandId);
        if (button != nullptr) GetWindowTextA(button, caption, kCaptionSize);
        return caption;
    }
    void SetButtonCaption(int commandId, const std::string& caption) override {
        HWND button = GetDlgItem(dialog, commandId);
        if (button != nullptr) SetWindowTextA(button, caption.c_str());
    }
    void SessionEnded(const transfer::SessionEnd&) override {}  // the reports said it all
};

uint32_t EngineTick() { return static_cast<uint32_t>(common::SteadyClock().NowMs()); }

DialogTransferListener Listener;

// The one engine, its assembler handed to the comm-event thread before any port opens.
transfer::TransferEngine& Engine(HWND dialog) {
    static transfer::TransferEngine engine(Listener, transfer::SystemFiles(), common::SteadyClock());
    Listener.dialog = dialog;
    return engine;
}

struct RegisterAssembler {
    RegisterAssembler() { SetFrameAssembler(&Engine(nullptr).Receiver(), EngineTick); }
} AssemblerAtStartUp;

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

bool ChooseOpenFile(HWND owner, char* name, DWORD nameSize, const char* filter) {
    OPENFILENAMEA dialog = MakeFileDialog(owner, name, nameSize, filter);
    dialog.lpstrInitialDir = kOpenDialogFolder;
    dialog.Flags = kOpenDialogFlags;
    return GetOpenFileNameA(&dialog) != FALSE;
}

bool ChooseSaveFile(HWND owner, char* name, DWORD nameSize, const char* filter) {
    OPENFILENAMEA dialog = MakeFileDialog(owner, name, nameSize, filter);
    dialog.Flags = kSaveDialogFlags;
    return GetSaveFileNameA(&dialog) != FALSE;
}

}  // namespace

int DispatchPacket(HWND dialog, PacketRecord* raw) {
    if (raw == nullptr) return 0;
    std::unique_ptr<PacketRecord> record(raw);
    return Engine(dialog).HandleFrame(*record);
}

void UpdateTransferStatus(HWND dialog) {
    transfer::TransferEngine& engine = Engine(dialog);
    const transfer::TransferStatus status = engine.Status();
    if (!status.active) {
        SetDlgItemTextA(dialog, IDC_STATUS_TEXT, "");
        return;
    }
    char line[kStatusLineSize];
    std::snprintf(line, sizeof line, "Elapsed Time: %d   Retry Count: %d  ", static_cast<int>(status.elapsedSeconds),
                  status.retryCount);
    SetDlgItemTextA(dialog, IDC_STATUS_TEXT, line);
    engine.Tick();
}

bool TransferSessionActive() { return Engine(nullptr).SessionActive(); }

bool EndSessionBeforeStart(HWND dialog, SessionFamily family, int commandId) {
    return Engine(dialog).EndSessionBeforeStart(family, commandId);
}

void HaltNlecTransfer(HWND dialog) { Engine(dialog).HaltNlec(); }

void SendFixedRequest(HWND dialog) { Engine(dialog).SendFixedRequest(); }

int StartChosenFile(HWND dialog, int commandId, const char* path, const char* logText) {
    transfer::TransferEngine& engine = Engine(dialog);
    bool started = false;
    switch (commandId) {
        case IDC_SEND_NLEC: started = engine.StartNlecSend(commandId, path); break;
        case IDC_GET_NLEC: started = engine.StartNlecGet(commandId, path); break;
        case IDC_SEND_BITMAP: started = engine.StartBitmapSend(commandId, path, logText); break;
        case IDC_RECEIVE_SETTINGS:
        case IDC_RECEIVE_PROGRAM: started = engine.StartFileReceive(commandId, path, ProgramName, logText); break;
        default: started = engine.StartFileSend(commandId, path, logText); break;
    }
    return started ? 1 : 0;
}

int SendNlecFile(HWND dialog, int commandId) {
    Engine(dialog).BeforeFileChoice(commandId);
    if (!ChooseOpenFile(dialog, NlecFileName, sizeof NlecFileName, kNlecFilter)) return 0;
    return StartChosenFile(dialog, commandId, NlecFileName, "");
}

int GetNlecFile(HWND dialog, int commandId) {
    Engine(dialog).BeforeFileChoice(commandId);
    if (!ChooseSaveFile(dialog, NlecFileName, sizeof NlecFileName, kNlecFilter)) return 0;
    return StartChosenFile(dialog, commandId, NlecFileName, "");
}

int SendTransferFile(HWND dialog, int commandId, const char* logText) {
    Engine(dialog).BeforeFileChoice(commandId);
    if (commandId == IDC_SEND_BITMAP) {
        char chosen[kFileNameSize] = {};  // the bitmap's text listing, asked for afresh each time
        if (!ChooseOpenFile(dialog, chosen, sizeof chosen, kFileFilter)) return 0;
        return StartChosenFile(dialog, commandId, chosen, logText);
    }
    if (!ChooseOpenFile(dialog, TransferFileName, sizeof TransferFileName, kFileFilter)) return 0;
    return StartChosenFile(dialog, commandId, TransferFileName, logText);
}

int ReceiveTransferFile(HWND dialog, int commandId, const char* logText) {
    Engine(dialog).BeforeFileChoice(commandId);
    if (!ChooseSaveFile(dialog, TransferFileName, sizeof TransferFileName, kFileFilter)) return 0;
    return StartChosenFile(dialog, commandId, TransferFileName, logText);
}
