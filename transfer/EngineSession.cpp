// The one transfer session: its start and end steps, its armed stop, the reports of the two
// reporters (the NLEC reporter keeps the caller's text, the file reporter picks its own by
// the kind), the NLEC halt, and the file holders that NLEC and file transfers share.
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <utility>

#include "common/Clock.h"
#include "transfer/EngineState.h"

namespace transfer {

using namespace packetlink;

size_t PayloadCount(const PacketRecord& record) {
    if (record.payloadCount < 0) return 0;
    return record.payloadCount > static_cast<int>(kMaxPayload) ? kMaxPayload : static_cast<size_t>(record.payloadCount);
}

std::string PayloadText(const PacketRecord& record) {
    const char* bytes = reinterpret_cast<const char*>(record.payload);
    return std::string(bytes, strnlen(bytes, PayloadCount(record)));
}

std::string Format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list measure;
    va_copy(measure, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(&text[0], text.size() + 1, format, arguments);
    va_end(arguments);
    return text;
}

// --- file holders

bool FileHolder::OpenForReceive(TransferFiles& files, const char* mode, std::error_code* error) {
    file = files.CreatePending(name, mode, &pendingPath, error);
    if (file == nullptr) pendingPath.clear();
    return file != nullptr;
}

std::error_code FileHolder::Commit(TransferFiles& files) {
    // Callers commit only an open receive.
    if (file == nullptr || pendingPath.empty()) return std::make_error_code(std::errc::bad_file_descriptor);
    const std::error_code error = files.Commit(file, pendingPath, name);
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

bool TransferEngine::Impl::Ask(Operation operation) {
    if (operation == Operation::SendNlec) {
        // The NLEC send's control halts whatever runs; while nothing does, it starts a send.
        if (!active) return true;
        HaltNlec(SessionResult::Stopped);
        return false;
    }
    const SessionFamily family = FamilyOf(operation);
    const bool pressedStop = session.stopArmed && session.operation == operation;
    const StartAction action = DecideStartCommand(family, active, session.kind, pressedStop);
    if (action == StartAction::Start) return true;
    if (family == SessionFamily::Nlec) {
        HaltNlec(SessionResult::Stopped);
    } else {
        StopFile();
    }
    return action == StartAction::StopThenStart;
}

void TransferEngine::Impl::BeginSession(Operation operation, Reporter reporter) {
    // A stop left armed (a session replaced or halted) is released before another is armed;
    // otherwise its control would keep stopping for good.
    ReleaseStop();
    retryCount = 0;
    active = true;
    session.operation = operation;
    session.kind = SessionOf(operation);
    session.startTick = Now();
    session.reporter = reporter;
    session.stopArmed = true;
    ui.StopArmed(operation);
}

void TransferEngine::Impl::EndSession() {
    active = false;
    ui.ProgressEnd();
    ReleaseStop();
}

void TransferEngine::Impl::ReleaseStop() {
    if (!session.stopArmed) return;
    session.stopArmed = false;
    ui.StopReleased(*session.operation);
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
        ui.Log(text, {});
        ui.Report(text);
        return text;
    }
    const std::string shown =
        session.reporter == Reporter::Nlec ? NlecReportText(operation, text) : FileReportText(operation, transferKind);
    ui.Beep();
    ui.Log(shown, {});
    ui.Report(shown);
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
    linkState.store(LinkState::Idle);  // no resend follows
    // The NLEC controls get their own captions back; a file session's stays armed, and its
    // file open, until that control is pressed or another session begins.
    if (session.operation && FamilyOf(*session.operation) == SessionFamily::Nlec) ReleaseStop();
    ui.Log("Nlec transfer halted.", {});
    ui.Beep();
    ui.ProgressEnd();
    Ended(wasActive, result, std::string());
}

void TransferEngine::Impl::Stop() {
    if (active) {
        if (FamilyOfSession(session.kind) == SessionFamily::Nlec) {
            HaltNlec(SessionResult::Stopped);
        } else {
            StopFile();
        }
    }
    ReleaseStop();
    nlecFile.Close(files);
    transferFile.Close(files);
    direction = Direction::None;
}

uint32_t TransferEngine::Impl::SecondsSinceStart() const { return (Now() - session.startTick) / common::kMsPerSecond; }

}  // namespace transfer
