// The screens that write with text alone (see Screen.h).
#include "board/Screen.h"

namespace board {

namespace {
constexpr const char* kClearToEnd = "\x1b[K";
constexpr const char* kClearBelow = "\x1b[J";
constexpr const char* kClearScreen = "\x1b[2J\x1b[H";
constexpr const char* kBell = "\a";

std::string Up(size_t lines) { return "\x1b[" + std::to_string(lines) + "A"; }
}  // namespace

std::string VtRewrite(const std::vector<std::string>& previous, const std::vector<std::string>& next, bool afresh) {
    std::string text;
    if (afresh) {
        text = kClearScreen;
    } else if (!previous.empty()) {
        text = Up(previous.size());
    }
    for (size_t i = 0; i < next.size(); ++i) {
        // A line feed moves down without touching the row: the line on it stays.
        if (!afresh && i < previous.size() && previous[i] == next[i]) {
            text += '\n';
        } else {
            text += '\r' + next[i] + kClearToEnd + '\n';
        }
    }
    if (!afresh && next.size() < previous.size()) text += kClearBelow;
    return text;
}

void VtScreen::Draw(const std::vector<std::string>& frame, bool afresh) {
    out_ << VtRewrite(shown_, frame, afresh);
    out_.flush();
    shown_ = frame;
}

void VtScreen::Keep(const std::string& line) {
    if (!shown_.empty()) out_ << Up(shown_.size());
    out_ << '\r' << line << kClearToEnd << '\n';
    // The rest of the frame is drawn again below the kept line.
    if (shown_.size() > 1) out_ << kClearBelow;
    out_.flush();
    shown_.clear();
}

void VtScreen::Bell() { out_ << kBell; }

void ScrollingScreen::Draw(const std::vector<std::string>& frame, bool) {
    if (drawnOnce_) out_ << '\n';
    for (const std::string& line : frame) out_ << line << '\n';
    out_.flush();
    drawnOnce_ = true;
}

void ScrollingScreen::Keep(const std::string& line) {
    out_ << line << '\n';
    out_.flush();
}

void ScrollingScreen::Bell() { out_ << kBell; }

}  // namespace board
