// What every unit's worker shares: its events sent to the sink with the unit's index, its
// failures in the words of the one table, and opening the port with a failure event when it
// cannot.
#pragma once

#include <memory>
#include <string>

#include "cli/load/UnitContext.h"
#include "cli/output/FailureTexts.h"

namespace cli {

class Reporter {
public:
    explicit Reporter(const UnitContext& context) : context_(context) {}
    void Send(EventKind kind, std::string text, uint64_t bytes = 0, uint64_t total = 0) const {
        UnitEvent event{kind, context_.unit, bytes, total, std::move(text)};
        context_.sink->Report(event);
    }
    void Send(UnitEvent event) const {
        event.unit = context_.unit;
        context_.sink->Report(event);
    }
    bool Fail(std::string reason, uint64_t bytes = 0, uint64_t total = 0) const {
        Send(EventKind::Failed, std::move(reason), bytes, total);
        return false;
    }
    bool Fail(Failure kind, const FailureDetails& details = {}, uint64_t bytes = 0, uint64_t total = 0) const {
        return Fail(FailureText(kind, details), bytes, total);
    }

private:
    const UnitContext& context_;
};

// Null after a Failed event when the port cannot be opened.
std::unique_ptr<serial::SerialPort> OpenPort(const UnitContext& context, const Reporter& reporter);

}  // namespace cli
