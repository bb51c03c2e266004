// A station port's cycle told as the units' events: the steps, the load's start and
// progress as download tells them, and each unit's end with its number and result.
#pragma once

#include "cli/output/UnitEvents.h"
#include "station/PortCycle.h"

namespace cli {

class StationEvents final : public station::PortListener {
public:
    StationEvents(UnitEventSink& sink, size_t index) : sink_(sink), index_(index) {}
    void OnStep(station::Step step, uint32_t unit, const std::string& text) override;
    void OnLoadStart(uint32_t unit, uint64_t total, uint32_t baud) override;
    void OnProgress(uint32_t unit, uint64_t bytesSent, uint64_t total) override;
    void OnLoadEnd(uint32_t unit, const station::LoadEnd& end) override;

private:
    void Send(EventKind kind, uint32_t unit, std::string text, uint64_t bytes = 0, uint64_t total = 0,
              const char* step = nullptr, const char* result = nullptr);
    UnitEventSink& sink_;
    size_t index_;
};

}  // namespace cli
