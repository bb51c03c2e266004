// The dialog's side of the transfer engine: the engine decides, this file shows. Its events
// become the port's writes, log lines, the bar, beeps, boxes and the captions of the service
// buttons; the buttons ask for their files with the common dialogs first. Every record posted
// by the comm-event thread is released here, exactly once.
#include "app/win/TransferPresenter.h"

#include <commdlg.h>

#include <cstdio>
#include <memory>

#include "app/DialogIds.h"
#include "app/Texts.h"
#include "app/win/MainDialog.h"
#include "common/Clock.h"
#include "common/win/ActivityView.h"
#include "serial/win/CommEventThread.h"
#include "serial/win/CommPort.h"

using common::win::ActivityView;
using common::win::ProgressRange;
using serial::win::WriteCommBytes;

using transfer::Operation;

namespace {

constexpr UINT kDefaultBeep = 0;
constexpr size_t kStatusLineSize = 96;
constexpr int kCaptionSize = 128;  // 127 characters and the terminator
constexpr DWORD kFileNameSize = 256;
constexpr char kStopTransferCaption[] = "Stop Transfer";
constexpr char kNlecFilter[] = "NLEC Files (*.TXT)\0*.TXT\0ALL Files (*.*)\0*.*\0";
constexpr char kFileFilter[] = "ALL Files (*.*)\0*.*\0";
constexpr char kOpenDialogFolder[] = ".\\";
constexpr DWORD kOpenDialogFlags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
constexpr DWORD kSaveDialogFlags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;

struct ServiceButton {
    Operation operation;
    int commandId;
};
constexpr ServiceButton kServiceButtons[] = {
    {Operation::SendNlec, IDC_SEND_NLEC},         {Operation::GetNlec, IDC_GET_NLEC},
    {Operation::SendSettings, IDC_SEND_SETTINGS}, {Operation::ReceiveSettings, IDC_RECEIVE_SETTINGS},
    {Operation::SendProgram, IDC_SEND_PROGRAM},   {Operation::ReceiveProgram, IDC_RECEIVE_PROGRAM},
    {Operation::SendBitmap, IDC_SEND_BITMAP},
};

// The names last chosen, offered again by the next file dialog of the same family.
char NlecFileName[kFileNameSize] = {};
char TransferFileName[kFileNameSize] = {};

// One write, waited for; its failures are not passed on (the reply timeout recovers).
void WriteAndWait(const void* bytes, DWORD count) { WriteCommBytes(bytes, count); }

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

// The prompt has no owner window. -1 means the prompt could not be shown at all, which is
// not a confirmed name.
bool AskProgramName() {
    return DialogBoxParamA(g_Instance, MAKEINTRESOURCEA(IDD_PROGRAM_NAME), nullptr, PromptProgramName,
                           reinterpret_cast<LPARAM>(g_Dialog)) > 0;
}

}  // namespace

int ButtonOf(Operation operation) {
    for (const ServiceButton& button : kServiceButtons) {
        if (button.operation == operation) return button.commandId;
    }
    return 0;
}

std::optional<Operation> OperationOfButton(int commandId) {
    for (const ServiceButton& button : kServiceButtons) {
        if (button.commandId == commandId) return button.operation;
    }
    return std::nullopt;
}

TransferPresenter::TransferPresenter(ActivityView& view)
    : view_(view), engine_(*this, transfer::SystemFiles(), common::SteadyClock()) {}

bool TransferPresenter::RunCommand(int commandId) {
    if (commandId == IDC_FIXED_REQUEST) {
        engine_.SendFixedRequest();
        return true;
    }
    const std::optional<Operation> operation = OperationOfButton(commandId);
    if (!operation) return false;
    // A running session of the same family ends before another starts, so it is never left
    // active without its file; a button whose stop is armed only stops.
    if (!engine_.Ask(*operation)) return true;
    if (*operation == Operation::ReceiveProgram && !AskProgramName()) return true;
    engine_.Prepare(*operation);
    std::string path;
    if (ChooseFile(*operation, &path)) StartChosenFile(commandId, path);
    return true;
}

bool TransferPresenter::ChooseFile(Operation operation, std::string* path) {
    bool chosen = false;
    switch (operation) {
        case Operation::SendNlec:
            chosen = ChooseOpenFile(dialog_, NlecFileName, sizeof NlecFileName, kNlecFilter);
            *path = NlecFileName;
            break;
        case Operation::GetNlec:
            chosen = ChooseSaveFile(dialog_, NlecFileName, sizeof NlecFileName, kNlecFilter);
            *path = NlecFileName;
            break;
        case Operation::SendBitmap: {
            char listing[kFileNameSize] = {};  // the bitmap's text listing, asked for afresh each time
            chosen = ChooseOpenFile(dialog_, listing, sizeof listing, kFileFilter);
            *path = listing;
            break;
        }
        case Operation::ReceiveSettings:
        case Operation::ReceiveProgram:
            chosen = ChooseSaveFile(dialog_, TransferFileName, sizeof TransferFileName, kFileFilter);
            *path = TransferFileName;
            break;
        default:
            chosen = ChooseOpenFile(dialog_, TransferFileName, sizeof TransferFileName, kFileFilter);
            *path = TransferFileName;
            break;
    }
    return chosen;
}

bool TransferPresenter::StartChosenFile(int commandId, const std::string& path) {
    const std::optional<Operation> operation = OperationOfButton(commandId);
    return operation && engine_.Start({*operation, path, ProgramName});
}

int TransferPresenter::DispatchPacket(packetlink::PacketRecord* raw) {
    if (raw == nullptr) return 0;
    std::unique_ptr<packetlink::PacketRecord> record(raw);
    return engine_.HandleFrame(*record);
}

void TransferPresenter::Tick() {
    const transfer::TransferStatus status = engine_.Status();
    if (!status.active) {
        SetDlgItemTextA(dialog_, IDC_STATUS_TEXT, "");
        return;
    }
    char line[kStatusLineSize];
    std::snprintf(line, sizeof line, "Elapsed Time: %d   Retry Count: %d  ", static_cast<int>(status.elapsedSeconds),
                  status.retryCount);
    SetDlgItemTextA(dialog_, IDC_STATUS_TEXT, line);
    engine_.Tick();
}

// --- the engine's events

// The frame in one waited write, so WriteOverlapped is never in use twice.
void TransferPresenter::SendFrame(const uint8_t* bytes, size_t count) {
    WriteAndWait(bytes, static_cast<DWORD>(count));
}

void TransferPresenter::Log(const std::string& line, std::error_code error) {
    common::win::LogEngineLine(view_, line, error);
}

void TransferPresenter::AppendLine(const std::string& line) { view_.AddLine(line); }

void TransferPresenter::Notice(common::NoticeKind kind, const std::string& text) {
    if (kind == common::NoticeKind::Alert) {
        MessageBeep(kDefaultBeep);
    } else {
        MessageBoxA(dialog_, text.c_str(), kWindowTitle, MB_OK);
    }
}

// The 32-bit range, so that a transfer of more than 65 535 steps shows correctly.
void TransferPresenter::ProgressStart(uint64_t total) {
    shownDone_ = 0;
    view_.CreateProgressBar(static_cast<unsigned>(total), ProgressRange::Range32);
}

// The bar moves by the steps done since its last move, as each packet's step moved it.
void TransferPresenter::ProgressAdvance(uint64_t done) {
    const uint64_t steps = done >= shownDone_ ? done - shownDone_ : done;
    shownDone_ = done;
    view_.AdvanceProgress(static_cast<unsigned>(steps));
}

void TransferPresenter::ProgressEnd() { view_.DestroyProgressBar(); }

// The button's own caption is kept (up to 127 characters) and comes back on release.
void TransferPresenter::StopArmed(Operation operation) {
    HWND button = GetDlgItem(dialog_, ButtonOf(operation));
    if (button == nullptr) return;
    char caption[kCaptionSize] = {};
    GetWindowTextA(button, caption, kCaptionSize);
    savedCaptions_[ButtonOf(operation)] = caption;
    SetWindowTextA(button, kStopTransferCaption);
}

void TransferPresenter::StopReleased(Operation operation) {
    HWND button = GetDlgItem(dialog_, ButtonOf(operation));
    if (button != nullptr) SetWindowTextA(button, savedCaptions_[ButtonOf(operation)].c_str());
}
