// The station's live board (see StationBoard.h), drawn with the same ANSI moves as the
// download's live lines.
#include "cli/StationBoard.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cli/LiveRenderer.h"
#include "cli/UnitBoard.h"
#include "common/Clock.h"
#include "station/PortCycle.h"

namespace cli {

namespace {
constexpr const char* kClearToEnd = "\x1b[K";
constexpr const char* kBell = "\a";
constexpr double kMsPerHour = 3600.0 * common::kMsPerSecond;
}  // namespace

StationBoard::StationBoard(std::ostream& out, const std::vector<std::string>& ports, std::string recordsFile,
                           uint64_t startMs)
    : out_(out), recordsFile_(std::move(recordsFile)), startMs_(startMs) {
    for (const std::string& name : ports) {
        Port port;
        port.name = name;
        ports_.push_back(port);
        width_ = std::max(width_, name.size());
    }
}

void StationBoard::OnEvent(const UnitEvent& event, uint64_t nowMs) {
    if (event.unit >= ports_.size()) return;
    Port& port = ports_[event.unit];
    switch (event.kind) {
        case EventKind::Step:
        case EventKind::Waiting:
            port.loading = false;
            port.text = event.text;
            port.lost =
                event.step != nullptr && std::strcmp(event.step, station::StepName(station::Step::PortLost)) == 0;
            break;
        case EventKind::Start:
            port.loading = true;
            port.failed = false;
            port.unit = event.cycleUnit;
            port.bytes = 0;
            port.total = event.total;
            port.startMs = nowMs;
            break;
        case EventKind::Progress:
            port.bytes = event.bytes;
            port.total = event.total;
            break;
        case EventKind::Done:
            port.loading = false;
            ++loaded_;
            break;
        case EventKind::Failed:
            port.loading = false;
            port.failed = true;
            port.failure = event.text;
            ++failed_;
            bell_ = true;
            break;
        case EventKind::Log: break;
    }
    bool urgent = event.kind == EventKind::Done || event.kind == EventKind::Failed || event.kind == EventKind::Step;
    if (urgent || !drawnOnce_ || nowMs - lastDrawMs_ >= kRedrawIntervalMs) Draw(nowMs);
}

void StationBoard::OnTick(uint64_t nowMs) {
    if (nowMs - lastDrawMs_ >= kRedrawIntervalMs) Draw(nowMs);
}

void StationBoard::Finish(uint64_t nowMs) { Draw(nowMs); }

std::string StationBoard::Line(const Port& port, uint64_t nowMs) const {
    std::string line = port.name + std::string(width_ - port.name.size() + 2, ' ');
    if (port.failed) return line + "failed: " + port.failure + (port.lost ? "; " + port.text : "");
    if (!port.loading) return line + port.text;
    line += "unit " + std::to_string(port.unit) + "  loading " + FormatPercent(port.bytes, port.total);
    uint64_t elapsed = nowMs > port.startMs ? nowMs - port.startMs : 0;
    if (elapsed == 0 || port.bytes == 0) return line;
    double rate = static_cast<double>(port.bytes) * common::kMsPerSecond / static_cast<double>(elapsed);
    line += "  " + FormatRate(rate);
    if (port.bytes < port.total) {
        auto leftMs = static_cast<uint64_t>(static_cast<double>(port.total - port.bytes) * common::kMsPerSecond / rate);
        line += "  " + FormatDuration(leftMs) + " left";
    }
    return line;
}

std::vector<std::string> StationBoard::Frame(uint64_t nowMs) const {
    char perHour[32];
    double hours = static_cast<double>(nowMs > startMs_ ? nowMs - startMs_ : 0) / kMsPerHour;
    std::snprintf(perHour, sizeof perHour, "%.1f", hours > 0.0 ? static_cast<double>(loaded_) / hours : 0.0);
    std::vector<std::string> frame;
    frame.push_back("records: " + (recordsFile_.empty() ? std::string("none") : recordsFile_) + "   loaded: " +
                    std::to_string(loaded_) + "   failed: " + std::to_string(failed_) + "   units/hour: " + perHour);
    for (const Port& port : ports_) frame.push_back(Line(port, nowMs));
    return frame;
}

void StationBoard::Draw(uint64_t nowMs) {
    std::vector<std::string> frame = Frame(nowMs);
    lastDrawMs_ = nowMs;
    if (drawnOnce_ && frame == lastFrame_ && !bell_) return;
    if (bell_) out_ << kBell;
    bell_ = false;
    if (drawnOnce_) out_ << "\x1b[" << lastFrame_.size() << "A";
    for (const std::string& line : frame) out_ << '\r' << line << kClearToEnd << '\n';
    out_.flush();
    lastFrame_ = std::move(frame);
    drawnOnce_ = true;
}

}  // namespace cli
