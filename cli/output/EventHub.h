// Where the workers' events meet: one lock serialises them (several threads share one
// output stream), keeps the unit board and hands each event with "now" to the presenter.
#pragma once

#include <cstdint>
#include <mutex>

#include "cli/output/UnitBoard.h"
#include "cli/output/UnitEvents.h"
#include "common/Clock.h"

namespace cli {

// How often a command's main thread wakes to tick the hub; the renderer throttles itself.
inline constexpr uint32_t kHubTickMs = 20;

class EventHub final : public UnitEventSink {
public:
    EventHub(common::Clock& clock, Presenter& presenter, UnitBoard& board)
        : clock_(clock), presenter_(presenter), board_(board) {}
    void Report(const UnitEvent& event) override {
        std::lock_guard<std::mutex> hold(mutex_);
        uint64_t now = clock_.NowMs();
        board_.Apply(event, now);
        presenter_.OnEvent(event, now);
    }
    void Tick() {
        std::lock_guard<std::mutex> hold(mutex_);
        presenter_.OnTick(clock_.NowMs());
    }
    void Finish() {
        std::lock_guard<std::mutex> hold(mutex_);
        presenter_.Finish(clock_.NowMs());
    }

private:
    std::mutex mutex_;
    common::Clock& clock_;
    Presenter& presenter_;
    UnitBoard& board_;
};

}  // namespace cli
