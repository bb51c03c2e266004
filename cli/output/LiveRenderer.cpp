// The terminal form of the units' progress (see LiveRenderer.h).
#include "cli/output/LiveRenderer.h"

#include <algorithm>

#include "board/TextFit.h"

namespace cli {

namespace {
constexpr size_t kMinNameWidth = 8;
}  // namespace

uint64_t RedrawIntervalMs(const board::Screen& screen) {
    return screen.MovesCursor() ? kRedrawIntervalMs : kScrollingRedrawIntervalMs;
}

LiveRenderer::LiveRenderer(std::unique_ptr<board::Screen> screen, const std::vector<std::string>& ports,
                           SizeReader size)
    : screen_(std::move(screen)), intervalMs_(RedrawIntervalMs(*screen_)), board_(ports), size_(std::move(size)) {}

void LiveRenderer::OnEvent(const UnitEvent& event, uint64_t nowMs) {
    if (event.kind == EventKind::Log) {
        PrintAbove(event, nowMs);
        return;
    }
    board_.Apply(event, nowMs);
    bool urgent = event.kind == EventKind::Done || event.kind == EventKind::Failed;
    if (urgent || !drawnOnce_ || nowMs - lastDrawMs_ >= intervalMs_) Draw(nowMs);
}

void LiveRenderer::OnTick(uint64_t nowMs) {
    if (nowMs - lastDrawMs_ >= intervalMs_) Draw(nowMs);
}

void LiveRenderer::Finish(uint64_t nowMs) { Draw(nowMs); }

std::string LiveRenderer::Line(const UnitState& unit, uint64_t nowMs, size_t nameWidth) const {
    std::string line = board::PadRight(board::ShortenMiddle(unit.port, nameWidth), nameWidth) + "  ";
    switch (unit.phase) {
        case UnitPhase::Pending: return line + "opening";
        case UnitPhase::Waiting: return line + unit.text;
        case UnitPhase::Done: return line + "done: " + unit.text;
        case UnitPhase::Failed: return line + "FAILED: " + unit.text;
        case UnitPhase::Running: break;
    }
    uint64_t elapsed = nowMs > unit.startMs ? nowMs - unit.startMs : 0;
    if (unit.total == 0) return line + unit.text + "  " + FormatDuration(elapsed);  // an erase: no byte count
    const uint64_t taken = TakenBytes(unit, nowMs);
    double rate = BytesPerSecond(unit, nowMs);
    line += std::to_string(taken) + " / " + std::to_string(unit.total) + " bytes  " + FormatPercent(taken, unit.total) +
            "  " + FormatRate(rate);
    if (rate > 0.0 && taken < unit.total) {
        auto leftMs = static_cast<uint64_t>(static_cast<double>(unit.total - taken) * 1000.0 / rate);
        line += "  " + FormatDuration(leftMs) + " left";
    }
    return line;
}

std::vector<std::string> LiveRenderer::Frame(uint64_t nowMs, board::TerminalSize size) const {
    const size_t width = size.columns > 1 ? size.columns - 1 : 1;
    const size_t rows = size.rows > 1 ? size.rows - 1 : 1;
    size_t widest = 0;
    for (const UnitState& unit : board_.Units()) widest = std::max(widest, board::DisplayWidth(unit.port));
    const size_t nameWidth = std::min(widest, std::max(kMinNameWidth, width * 2 / 5));
    const std::vector<UnitState>& units = board_.Units();
    const size_t shown = units.size() <= rows ? units.size() : rows - 1;
    std::vector<std::string> frame;
    for (size_t i = 0; i < shown; ++i) frame.push_back(board::CutEnd(Line(units[i], nowMs, nameWidth), width));
    if (shown < units.size()) {
        frame.push_back(board::CutEnd("+" + std::to_string(units.size() - shown) + " more units", width));
    }
    return frame;
}

// A kept line goes where the live frame stood; the frame is drawn afresh below it.
void LiveRenderer::PrintAbove(const UnitEvent& event, uint64_t nowMs) {
    if (event.unit >= board_.Units().size()) return;
    screen_->Keep(board_.Units()[event.unit].port + ": " + event.text);
    lastFrame_.clear();
    drawnOnce_ = false;
    Draw(nowMs);
}

void LiveRenderer::Draw(uint64_t nowMs) {
    const board::TerminalSize size = size_ ? size_() : board::TerminalSize{};
    std::vector<std::string> frame = Frame(nowMs, size);
    const bool resized = drawnOnce_ && size != lastSize_;
    lastDrawMs_ = nowMs;
    if (drawnOnce_ && !resized && frame == lastFrame_) return;  // nothing visible changed
    // Afresh after a resize: the terminal may have rewrapped the old frame.
    screen_->Draw(frame, resized);
    lastFrame_ = std::move(frame);
    lastSize_ = size;
    drawnOnce_ = true;
    ++framesDrawn_;
}

}  // namespace cli
