// Where a view's frames are drawn in place. A view lays out a frame's lines; a screen moves
// to the top of the frame it drew last and writes the new one over it, so the views stay
// the same on every terminal: ANSI escape sequences on terminals and on consoles that take
// them (VtScreen), the console's own calls where it has no escape sequences (the front-end's
// glue), and each frame below the last where the cursor cannot be moved at all
// (ScrollingScreen).
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace board {

class Screen {
public:
    virtual ~Screen() = default;
    // Writes frame over the one drawn last (at the cursor the first time); afresh: the screen
    // is cleared first, as after a resize the terminal may have rewrapped what stood there.
    virtual void Draw(const std::vector<std::string>& frame, bool afresh) = 0;
    // Writes line where the frame stood, to stay there; the next frame is drawn below it.
    virtual void Keep(const std::string& line) = 0;
    virtual void Bell() = 0;
    // Whether a frame is written over the last one; if not, each goes below the last, so the
    // views keep it small and draw it seldom.
    virtual bool MovesCursor() const { return true; }
};

// The escape sequence that turns the frame on the screen (previous, its last line just above
// the cursor) into next: up over previous, the lines that changed rewritten and cleared to
// their end, the unchanged ones stepped over, what a longer previous frame left cleared.
// afresh: the screen cleared and next drawn at its top.
std::string VtRewrite(const std::vector<std::string>& previous, const std::vector<std::string>& next, bool afresh);

class VtScreen final : public Screen {
public:
    explicit VtScreen(std::ostream& out) : out_(out) {}
    void Draw(const std::vector<std::string>& frame, bool afresh) override;
    void Keep(const std::string& line) override;
    void Bell() override;

private:
    std::ostream& out_;
    std::vector<std::string> shown_;
};

// No cursor movement at all: each frame is written below the one before, after a blank line.
class ScrollingScreen final : public Screen {
public:
    explicit ScrollingScreen(std::ostream& out) : out_(out) {}
    void Draw(const std::vector<std::string>& frame, bool afresh) override;
    void Keep(const std::string& line) override;
    void Bell() override;
    bool MovesCursor() const override { return false; }

private:
    std::ostream& out_;
    bool drawnOnce_ = false;
};

}  // namespace board
