// The terminal form: one live line per unit, the whole frame redrawn in place by one
// renderer at most every 100 ms, and at once on a unit's end or failure.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/UnitBoard.h"
#include "cli/UnitEvents.h"

namespace cli {

inline constexpr uint64_t kRedrawIntervalMs = 100;

class LiveRenderer final : public Presenter {
public:
    LiveRenderer(std::ostream& out, const std::vector<std::string>& ports);
    void OnEvent(const UnitEvent& event, uint64_t nowMs) override;
    void OnTick(uint64_t nowMs) override;
    void Finish(uint64_t nowMs) override;
    // How many frames were written, for tests of the throttle.
    size_t FramesDrawn() const { return framesDrawn_; }

private:
    std::string Line(const UnitState& unit, uint64_t nowMs) const;
    void Draw(uint64_t nowMs);
    void PrintAbove(const UnitEvent& event, uint64_t nowMs);

    std::ostream& out_;
    UnitBoard board_;
    std::vector<std::string> lastFrame_;
    uint64_t lastDrawMs_ = 0;
    bool drawnOnce_ = false;
    size_t framesDrawn_ = 0;
};

}  // namespace cli
