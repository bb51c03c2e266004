// The transfer engine's output as varnex shows it (see ServiceListener.h).
#include "cli/ServiceListener.h"

#include <cstring>
#include <system_error>

namespace cli {

namespace {
// The file layer reports the platform's codes: Win32 codes on Windows, errno elsewhere.
std::string SystemErrorText(uint32_t osError) {
#ifdef _WIN32
    return std::system_category().message(static_cast<int>(osError));
#else
    return std::generic_category().message(static_cast<int>(osError));
#endif
}
}  // namespace

void ServiceListener::SendPacket(const PacketHeader& header, const uint8_t* payload, uint16_t length) {
    // Header and payload in one write: the unit sees the frame without a gap inside it.
    frame_.resize(kHeaderSize + length);
    std::memcpy(frame_.data(), &header, kHeaderSize);
    if (length > 0) std::memcpy(frame_.data() + kHeaderSize, payload, length);
    writer_.Write(frame_.data(), frame_.size());
}

void ServiceListener::Keep(const std::string& line) {
    lastLine_ = line;
    lastReason_ = line;
    sink_.Report({EventKind::Log, unit_, 0, 0, line});
}

void ServiceListener::Log(const std::string& line, uint32_t osError) {
    Keep(line);
    if (osError == 0) return;
    const std::string system = SystemErrorText(osError);
    Keep(system);
    lastReason_ = line + " (" + system + ")";
}

void ServiceListener::AppendLine(const std::string& line) { Keep(line); }

// A report is logged, then shown in a box: the box adds nothing then. A box with no log line
// before it (the unit's flash-erase result, which may come in any session) is kept.
void ServiceListener::ShowMessage(const std::string&, const std::string& text) {
    if (text != lastLine_) Keep(text);
}

void ServiceListener::ProgressStart(uint32_t maximum, transfer::ProgressScale) {
    steps_ = 0;
    total_ = maximum;
    sink_.Report({EventKind::Start, unit_, 0, total_, "transferring"});
}

void ServiceListener::ProgressAdvance(uint32_t steps) {
    steps_ += steps;
    sink_.Report({EventKind::Progress, unit_, steps_, total_, ""});
}

void ServiceListener::SessionEnded(const transfer::SessionEnd& end) {
    // A report that belongs to no session (a stray packet's) is shown once, and ends nothing.
    if (end.kind == SESSION_NONE) {
        if (!end.text.empty() && end.text != lastLine_) Keep(end.text);
        return;
    }
    end_ = end;
}

std::string ServiceListener::ButtonCaption(int commandId) {
    auto found = captions_.find(commandId);
    return found == captions_.end() ? std::string() : found->second;
}

}  // namespace cli
