// The one transfer session: its start and end steps, the button's caption, the reports of the
// two reporters (the NLEC reporter keeps the caller's text, the file reporter picks its own by
// the kind), the NLEC halt, and the file holders that NLEC and file transfers share.
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <utility>

#include "common/DialogIds.h"
#include "common/Texts.h"
#include "transfer/EngineState.h"

namespace transfer {

namespace {
constexpr uint32_t kMsPerSecond = 1000;
constexpr size_t kFormatBufferSize = 1024;
constexpr char kSendNlecCaption[] = "Send NLEC";
constexpr char kGetNlecCaption[] = "Get NLEC";
}  // namespace

size_t PayloadCount(const PacketRecord& record) {
    if (record.payloadCount < 0) return 0;
    return record.payloadCount > static_cast<int>(kMaxPayload) ? kMaxPayload
                                                               : static_cast<size_t>(record.payloadCount);
}

std::string PayloadText(const PacketRecord& record) {
    const char* bytes = reinterpret_cast<const char*>(record.payload);
    return std::string(bytes, strnlen(bytes, PayloadCount(record)));
}

std::string Format(const char* format, ...) {
    char text[kFormatBufferSize];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

// --- file holders

bool FileHolder::OpenForReceive(TransferFiles& files, const char* mode, uint32_t* osError) {
    file = files.CreatePending(name, mode, &pendingPath, osError);
    if (file == nullptr) pendingPath.clear();
    return file != nullptr;
}

uint32_t FileHolder::Commit(TransferFiles& files) {
    constexpr uint32_t kNothingToCommit = 1;  // callers commit only an open receive
    if (file == nullptr || pendingPath.empty()) return kNothingToCommit;
    const uint32_t error = files.Commit(file, pendingPath, name);
    file = nullptr;
    pendingPath.clear();
    return error;
}

void FileHolder::OpenImage(std::vector<uint8_t> bytes) {
    image = std::move(bytes);
    imageRead = 0;
    imageOpen = true;
}

StreamSum FileHolder::SumSource() {
    if (file != nullptr) return SumFileBytes(file);
    imageRead = 0;
    return StreamSum{true, AddToSum(0, image.data(), image.size()), static_cast<int32_t>(image.size())};
}

size_t FileHolder::Read(uint8_t* into, size_t wanted) {
    if (file != nullptr) return std::fread(into, 1, wanted, file);
    const size_t got = imageOpen ? std::min(wanted, image.size() - imageRead) : 0;
    if (got > 0) std::memcpy(into, image.data() + imageRead, got);
    imageRead += got;
    return got;
}

void FileHolder::Close(TransferFiles& files) {
    if (!IsOpen()) return;
    if (file != nullptr) std::fclose(file);
    file = nullptr;
    if (!pendingPath.empty()) {
        files.Remove(pendingPath);  // the chosen file stays as it was
        pendingPath.clear();
    }
    std::vector<uint8_t>().swap(image);
    imageRead = 0;
    imageOpen = false;
}

TransferEngine::Impl::~Impl() {
    nlecFile.Close(files);
    transferFile.Close(files);
}

// --- the session

void TransferEngine::Impl::BeginSession(int commandId, SessionKind kind, Reporter reporter) {
    // A button left reading "Stop Transfer" (a session replaced or halted) gets its own
    // caption back before a new caption is saved; otherwise it would keep it for good.
    if (session.button != 0 && ui.ButtonCaption(session.button) == kStopTransferCaption) {
        ui.SetButtonCaption(session.button, session.savedCaption);
    }
    retryCount = 0;
    active = true;
    session.button = commandId;
    session.kind = kind;
    session.startTick = Now();
    session.reporter = reporter;
    session.savedCaption.clear();
    if (session.button != 0) {
        session.savedCaption = ui.ButtonCaption(session.button);
        ui.SetButtonCaption(session.button, kStopTransferCaption);
    }
}

void TransferEngine::Impl::EndSession() {
    active = false;
    ui.ProgressEnd();
    RestoreButtonCaption();
}

void TransferEngine::Impl::RestoreButtonCaption() {
    if (session.button != 0) ui.SetButtonCaption(session.button, session.savedCaption);
}

void TransferEngine::Impl::CloseSessionFile(SessionKind kind) {
    if (FamilyOfSession(kind) == SessionFamily::Nlec) nlecFile.Close(files);
    if (FamilyOfSession(kind) == SessionFamily::File) {
        transferFile.Close(files);
        direction = Direction::None;
    }
}

std::string TransferEngine::Impl::Report(ReportOperation operation, const char* text) {
    if (session.reporter == Reporter::None) {
        ui.Log(text, 0);
        ui.ShowMessage(kWindowTitle, text);
        return text;
    }
    const std::string shown = session.reporter == Reporter::Nlec ? NlecReportText(operation, text)
                                                                 : FileReportText(operation, transferKind);
    ui.Beep();
    ui.Log(shown, 0);
    ui.ShowMessage(kWindowTitle, shown);
    return shown;
}

void TransferEngine::Impl::Ended(bool wasActive, SessionResult result, const std::string& text,
                                 const std::string& unitText) {
    SessionEnd end;
    end.kind = wasActive ? session.kind : SESSION_NONE;
    end.result = result;
    end.text = text;
    end.unitText = unitText;
    ui.SessionEnded(end);
}

void TransferEngine::Impl::HaltNlec(SessionResult result) {
    const bool wasActive = active;
    nlecFile.Close(files);
    active = false;
    linkState.store(LINK_IDLE);  // no resend follows
    ui.SetButtonCaption(IDC_SEND_NLEC, kSendNlecCaption);
    ui.SetButtonCaption(IDC_GET_NLEC, kGetNlecCaption);
    ui.Log("Nlec transfer halted.", 0);
    ui.Beep();
    ui.ProgressEnd();
    Ended(wasActive, result, std::string());
}

uint32_t TransferEngine::Impl::SecondsSinceStart() const { return (Now() - session.startTick) / kMsPerSecond; }

}  // namespace transfer
