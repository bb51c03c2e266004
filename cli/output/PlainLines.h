// The form off a terminal (a log file, a pipe): one plain line per unit and step, no
// progress lines, so a record reads the same however fast the units went.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/output/UnitEvents.h"

namespace cli {

class PlainLines final : public Presenter {
public:
    PlainLines(std::ostream& out, const std::vector<std::string>& ports) : out_(out), ports_(ports) {}
    void OnEvent(const UnitEvent& event, uint64_t nowMs) override;

private:
    std::ostream& out_;
    std::vector<std::string> ports_;
};

}  // namespace cli
