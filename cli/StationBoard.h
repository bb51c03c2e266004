// The station's terminal form: a header (records file, units loaded and failed, units per
// hour) over one live line per port, redrawn in place at most every 100 ms and at once on a
// unit's end. A failure stays on its port's line until that port's next unit starts, and
// rings the terminal's bell once.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/UnitEvents.h"

namespace cli {

class StationBoard final : public Presenter {
public:
    StationBoard(std::ostream& out, const std::vector<std::string>& ports, std::string recordsFile, uint64_t startMs);
    void OnEvent(const UnitEvent& event, uint64_t nowMs) override;
    void OnTick(uint64_t nowMs) override;
    void Finish(uint64_t nowMs) override;

    // The frame as it would be drawn now, for tests.
    std::vector<std::string> Frame(uint64_t nowMs) const;

private:
    struct Port {
        std::string name;
        std::string text = "opening";
        bool loading = false;
        bool failed = false;  // until the port's next unit starts
        std::string failure;
        bool lost = false;  // the port is lost: said beside a failure too
        uint32_t unit = 0;
        uint64_t bytes = 0;
        uint64_t total = 0;
        uint64_t startMs = 0;
    };
    std::string Line(const Port& port, uint64_t nowMs) const;
    void Draw(uint64_t nowMs);

    std::ostream& out_;
    std::vector<Port> ports_;
    std::string recordsFile_;
    uint64_t startMs_;
    uint64_t loaded_ = 0;
    uint64_t failed_ = 0;
    size_t width_ = 0;
    std::vector<std::string> lastFrame_;
    uint64_t lastDrawMs_ = 0;
    bool drawnOnce_ = false;
    bool bell_ = false;  // a failure came since the last frame
};

}  // namespace cli
