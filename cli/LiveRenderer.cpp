// The terminal form of the units' progress (see LiveRenderer.h). ANSI cursor movement: up
// over the frame drawn last, then each line rewritten and cleared to its end.
#include "cli/LiveRenderer.h"

namespace cli {

namespace {
constexpr const char* kClearToEnd = "\x1b[K";
}  // namespace

LiveRenderer::LiveRenderer(std::ostream& out, const std::vector<std::string>& ports) : out_(out), board_(ports) {}

void LiveRenderer::OnEvent(const UnitEvent& event, uint64_t nowMs) {
    if (event.kind == EventKind::Log) {
        PrintAbove(event, nowMs);
        return;
    }
    board_.Apply(event, nowMs);
    bool urgent = event.kind == EventKind::Done || event.kind == EventKind::Failed;
    if (urgent || !drawnOnce_ || nowMs - lastDrawMs_ >= kRedrawIntervalMs) Draw(nowMs);
}

void LiveRenderer::OnTick(uint64_t nowMs) {
    if (nowMs - lastDrawMs_ >= kRedrawIntervalMs) Draw(nowMs);
}

void LiveRenderer::Finish(uint64_t nowMs) { Draw(nowMs); }

std::string LiveRenderer::Line(const UnitState& unit, uint64_t nowMs) const {
    std::string line = unit.port + std::string(board_.WidestPort() - unit.port.size() + 2, ' ');
    switch (unit.phase) {
        case UnitPhase::Pending: return line + "opening";
        case UnitPhase::Waiting: return line + unit.text;
        case UnitPhase::Done: return line + "done: " + unit.text;
        case UnitPhase::Failed: return line + "FAILED: " + unit.text;
        case UnitPhase::Running: break;
    }
    uint64_t elapsed = nowMs > unit.startMs ? nowMs - unit.startMs : 0;
    if (unit.total == 0) return line + unit.text + "  " + FormatDuration(elapsed);  // an erase: no byte count
    double rate = BytesPerSecond(unit, nowMs);
    line += std::to_string(unit.bytes) + " / " + std::to_string(unit.total) + " bytes  " +
            FormatPercent(unit.bytes, unit.total) + "  " + FormatRate(rate);
    if (rate > 0.0 && unit.bytes < unit.total) {
        auto leftMs = static_cast<uint64_t>(static_cast<double>(unit.total - unit.bytes) * 1000.0 / rate);
        line += "  " + FormatDuration(leftMs) + " left";
    }
    return line;
}

// A kept line goes where the live frame stood; the frame is drawn afresh below it.
void LiveRenderer::PrintAbove(const UnitEvent& event, uint64_t nowMs) {
    if (event.unit >= board_.Units().size()) return;
    if (drawnOnce_ && !lastFrame_.empty()) out_ << "\x1b[" << lastFrame_.size() << "A";
    out_ << '\r' << board_.Units()[event.unit].port << ": " << event.text << kClearToEnd << '\n';
    lastFrame_.clear();
    drawnOnce_ = false;
    Draw(nowMs);
}

void LiveRenderer::Draw(uint64_t nowMs) {
    std::vector<std::string> frame;
    for (const UnitState& unit : board_.Units()) frame.push_back(Line(unit, nowMs));
    lastDrawMs_ = nowMs;
    if (drawnOnce_ && frame == lastFrame_) return;  // nothing visible changed
    if (drawnOnce_ && !lastFrame_.empty()) out_ << "\x1b[" << lastFrame_.size() << "A";
    for (const std::string& line : frame) out_ << '\r' << line << kClearToEnd << '\n';
    out_.flush();
    lastFrame_ = std::move(frame);
    drawnOnce_ = true;
    ++framesDrawn_;
}

}  // namespace cli
