// The station's events (see StationEvents.h).
#include "cli/station/StationEvents.h"

#include "cli/output/FailureTexts.h"

namespace cli {

void StationEvents::Send(EventKind kind, uint32_t unit, std::string text, uint64_t bytes, uint64_t total,
                         const char* step, const char* result) {
    UnitEvent event{kind, index_, bytes, total, std::move(text)};
    event.cycleUnit = unit;
    event.step = step;
    event.result = result;
    sink_.Report(event);
}

void StationEvents::OnStep(station::Step step, uint32_t unit, const std::string& text) {
    Send(EventKind::Step, unit, text, 0, 0, station::StepName(step));
}

void StationEvents::OnLoadStart(uint32_t unit, uint64_t total, uint32_t baud) {
    Send(EventKind::Start, unit,
         "unit " + std::to_string(unit) + ": sending " + std::to_string(total) + " bytes at " + std::to_string(baud) +
             " baud",
         0, total);
}

void StationEvents::OnProgress(uint32_t unit, uint64_t bytesSent, uint64_t total) {
    Send(EventKind::Progress, unit, "", bytesSent, total);
}

void StationEvents::OnLoadEnd(uint32_t unit, const station::LoadEnd& end) {
    const char* result = station::LoadResultName(end.result);
    if (end.result == station::LoadResult::Confirmed) {
        Send(EventKind::Done, unit,
             "unit " + std::to_string(unit) + " loaded and confirmed (" + std::to_string(end.bytesSent) + " bytes)",
             end.bytesSent, end.total, nullptr, result);
        return;
    }
    FailureDetails details = Words(end.reason);
    details.unit = unit;
    Send(EventKind::Failed, unit, FailureText(Failure::StationUnitFailed, details), end.bytesSent, end.total, nullptr,
         result);
}

}  // namespace cli
