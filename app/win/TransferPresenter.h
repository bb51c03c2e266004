// The dialog as the presenter of the transfer engine: the service buttons name operations,
// their files are chosen with the common dialogs and handed to the engine; received records,
// the 100 ms tick and the engine's events (frames to write, log lines, bar, boxes, the stop
// of a session on its button) pass through here. UI thread, except Receiver().
#pragma once
#include <windows.h>

#include <map>
#include <optional>
#include <string>

#include "common/win/ActivityView.h"
#include "link/PacketRecord.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferText.h"

class TransferPresenter final : private transfer::TransferListener {
public:
    // Log lines and the bar go to view, which must outlive the presenter.
    explicit TransferPresenter(ActivityView& view);
    // The main dialog it shows in; set at the dialog's start-up, before any command.
    void Attach(HWND dialog) { dialog_ = dialog; }

    // The service buttons (NLEC, settings, program, bitmap) and the fixed request; false for
    // any other command identifier.
    bool RunCommand(int commandId);
    // Starts the operation of a service button with its file already chosen; true when
    // started. The commands call it once the operator has chosen.
    bool StartChosenFile(int commandId, const std::string& path);
    // Handles WM_PACKET_RECEIVED; owns and releases the record. 0 after a bad checksum, else 1.
    int DispatchPacket(packetlink::PacketRecord* record);
    // The status line and the link's timeouts, on every tick of the 100 ms timer.
    void Tick();
    bool SessionActive() const { return engine_.SessionActive(); }
    // The frame assembler that the comm-event thread feeds.
    packetlink::PacketReceiver& Receiver() { return engine_.Receiver(); }

private:
    void SendFrame(const uint8_t* bytes, size_t count) override;
    void Log(const std::string& line, std::error_code error) override;
    void AppendLine(const std::string& line) override;
    // An alert beeps; an outcome is shown in an OK box.
    void Notice(common::NoticeKind kind, const std::string& text) override;
    // Transfers use the 32-bit range; the bar moves by what is done since its last move.
    void ProgressStart(uint64_t total) override;
    void ProgressAdvance(uint64_t done) override;
    void ProgressEnd() override;
    void StopArmed(transfer::Operation operation) override;
    void StopReleased(transfer::Operation operation) override;
    void SessionEnded(const transfer::SessionEnd&) override {}  // the reports said it all

    // Asks for the operation's file; false when the operator cancelled.
    bool ChooseFile(transfer::Operation operation, std::string* path);

    HWND dialog_ = nullptr;
    ActivityView& view_;
    transfer::TransferEngine engine_;
    std::map<int, std::string> savedCaptions_;  // of the buttons whose stop is armed
    uint64_t shownDone_ = 0;                    // the steps the bar shows since its start
};

// The button of a service operation, and the operation of a button.
int ButtonOf(transfer::Operation operation);
std::optional<transfer::Operation> OperationOfButton(int commandId);

// Dialog procedure of template 103, its creation parameter the main dialog to centre on:
// ends with 1 when a non-empty name was confirmed.
INT_PTR CALLBACK PromptProgramName(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The name typed in the prompt, appended to a program receive's opening packet.
extern char ProgramName[transfer::kMaxProgramNameLength + 1];
