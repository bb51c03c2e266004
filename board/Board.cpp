// The station's board (see Board.h). Writers change state_ under writeMutex_ and publish a
// fresh copy; readers only load the published pointer, so a reader never makes a port wait.
#include "board/Board.h"

#include <atomic>
#include <chrono>

namespace board {

namespace {
constexpr uint64_t kBitsPerByte = 11;  // start, eight data, odd parity, stop
constexpr double kMsPerHour = 3600.0 * common::kMsPerSecond;
}  // namespace

uint64_t LineBytes(uint32_t baud, uint64_t elapsedMs) {
    return static_cast<uint64_t>(baud) * elapsedMs / (kBitsPerByte * common::kMsPerSecond);
}

uint64_t TakenBytes(uint64_t bytesWritten, uint32_t baud, uint64_t elapsedMs) {
    if (baud == 0) return bytesWritten;
    const uint64_t line = LineBytes(baud, elapsedMs);
    return bytesWritten < line ? bytesWritten : line;
}

double UnitsPerHour(const StationState& state, uint64_t elapsedMs) {
    if (elapsedMs < kRateSettleMs) return -1.0;
    if (elapsedMs < kRateWindowMs) {
        return static_cast<double>(state.loaded) * kMsPerHour / static_cast<double>(elapsedMs);
    }
    // The hour's whole minutes: the minute under way joins once it is over.
    const uint64_t current = elapsedMs / kRateSliceMs;
    uint64_t loaded = 0;
    for (uint64_t minute = current - kRateSlices; minute < current; ++minute) {
        const StationState::Slice& slice = state.recent[minute % kRateRing];
        if (slice.minute == minute) loaded += slice.loaded;
    }
    return static_cast<double>(loaded);
}

Board::Board(const std::vector<std::string>& ports, std::string records, uint64_t startMs)
    : timing_(ports.size()), startMs_(startMs) {
    state_.records = std::move(records);
    state_.atMs = startMs;
    const std::vector<NamePart> parts = DistinctParts(ports);
    for (size_t index = 0; index < ports.size(); ++index) {
        PortState port;
        port.name = ports[index];
        port.distinct = parts[index];
        state_.ports.push_back(port);
    }
    std::lock_guard<std::mutex> hold(writeMutex_);
    Publish(startMs);
}

void Board::Step(size_t port, station::Step step, uint32_t unit, const std::string& text, uint64_t nowMs) {
    std::lock_guard<std::mutex> hold(writeMutex_);
    if (port >= state_.ports.size()) return;
    PortState& p = state_.ports[port];
    p.step = station::StepName(step);
    p.text = text;
    if (unit != 0) p.unit = unit;
    p.lost = step == station::Step::PortLost;
    if (step != station::Step::Loading) p.loading = false;
    Publish(nowMs);
}

void Board::LoadStart(size_t port, uint32_t unit, uint64_t total, uint32_t baud, uint64_t nowMs) {
    std::lock_guard<std::mutex> hold(writeMutex_);
    if (port >= state_.ports.size()) return;
    PortState& p = state_.ports[port];
    p.step = station::StepName(station::Step::Loading);
    p.text.clear();
    p.unit = unit;
    p.loading = true;
    p.failed = false;  // the latch holds until this moment
    p.reason.clear();
    p.bytes = 0;
    p.total = total;
    p.rate = 0.0;
    p.leftMs = -1;
    timing_[port] = Timing{nowMs, nowMs, 0, baud, nowMs, true, -1};
    Publish(nowMs);
}

void Board::Progress(size_t port, uint64_t bytesWritten, uint64_t total, uint64_t nowMs) {
    std::lock_guard<std::mutex> hold(writeMutex_);
    if (port >= state_.ports.size() || !state_.ports[port].loading) return;
    state_.ports[port].total = total;
    Timing& t = timing_[port];
    t.written = bytesWritten;
    t.progressMs = nowMs;
    TakeProgress(port);
    if (t.published && nowMs - t.publishedMs < kProgressIntervalMs) return;  // kept for the next copy
    t.publishedMs = nowMs;
    t.published = true;
    Publish(nowMs);
}

// The port's bytes, rate and time left from its written count, held to the line's pace.
void Board::TakeProgress(size_t port) {
    PortState& p = state_.ports[port];
    const Timing& t = timing_[port];
    const uint64_t elapsed = t.progressMs > t.startMs ? t.progressMs - t.startMs : 0;
    p.bytes = TakenBytes(t.written, t.baud, elapsed);
    if (elapsed == 0 || p.bytes == 0) return;
    p.rate = static_cast<double>(p.bytes) * common::kMsPerSecond / static_cast<double>(elapsed);
    const uint64_t left = p.total > p.bytes ? p.total - p.bytes : 0;
    timing_[port].leftAtProgressMs = static_cast<int64_t>(static_cast<double>(left) * common::kMsPerSecond / p.rate);
}

void Board::LoadEnd(size_t port, uint32_t unit, const station::LoadEnd& end, uint64_t nowMs) {
    std::lock_guard<std::mutex> hold(writeMutex_);
    if (port >= state_.ports.size()) return;
    PortState& p = state_.ports[port];
    p.unit = unit;
    p.loading = false;
    p.bytes = end.bytesSent;
    p.total = end.total;
    p.leftMs = -1;
    p.result = station::LoadResultName(end.result);
    // A unit's first load, as far as the records and this shift know, decides its first pass.
    if (!end.serial.empty() && !end.loadedBefore && serials_.insert(end.serial).second) {
        ++state_.units;
        if (end.result == station::LoadResult::Confirmed) ++state_.firstPass;
    }
    ++p.loads[p.result];
    if (end.result == station::LoadResult::Confirmed) {
        ++state_.loaded;
        const uint64_t minute = (nowMs > startMs_ ? nowMs - startMs_ : 0) / kRateSliceMs;
        StationState::Slice& slice = state_.recent[minute % kRateRing];
        if (slice.minute != minute) slice = {minute, 0};
        ++slice.loaded;
    } else if (end.result == station::LoadResult::Stopped) {
        p.reason = end.reason;  // the station's stop, not the unit's failure: nothing latches
    } else {
        ++state_.failed;
        p.failed = true;
        p.reason = end.reason;
    }
    Publish(nowMs);
}

void Board::PortFailed(size_t port, const std::string& reason, uint64_t nowMs) {
    std::lock_guard<std::mutex> hold(writeMutex_);
    if (port >= state_.ports.size()) return;
    PortState& p = state_.ports[port];
    p.loading = false;
    p.failed = true;
    p.reason = reason;
    Publish(nowMs);
}

void Board::Server(const RecordsServer& server, uint64_t nowMs) {
    std::lock_guard<std::mutex> hold(writeMutex_);
    if (state_.server == server) return;
    state_.server = server;
    Publish(nowMs);
}

void Board::Notice(const std::string& text, uint64_t nowMs) {
    std::lock_guard<std::mutex> hold(writeMutex_);
    state_.notice = text;
    Publish(nowMs);
}

void Board::End(uint64_t nowMs) {
    std::lock_guard<std::mutex> hold(writeMutex_);
    for (size_t port = 0; port < state_.ports.size(); ++port) {
        if (state_.ports[port].loading) TakeProgress(port);
    }
    state_.ended = true;
    Publish(nowMs);
}

void Board::Publish(uint64_t nowMs) {
    ++state_.sequence;
    state_.atMs = nowMs;
    // Time left counts down from the port's last progress, whichever port's change this is.
    for (size_t port = 0; port < state_.ports.size(); ++port) {
        const Timing& t = timing_[port];
        if (!state_.ports[port].loading || t.leftAtProgressMs < 0) continue;
        const auto since = static_cast<int64_t>(nowMs > t.progressMs ? nowMs - t.progressMs : 0);
        state_.ports[port].leftMs = t.leftAtProgressMs > since ? t.leftAtProgressMs - since : 0;
    }
    const uint64_t ended = state_.loaded + state_.failed;
    state_.yield = ended == 0 ? -1.0 : static_cast<double>(state_.loaded) / static_cast<double>(ended);
    state_.firstPassYield =
        state_.units == 0 ? -1.0 : static_cast<double>(state_.firstPass) / static_cast<double>(state_.units);
    std::atomic_store(&published_, std::shared_ptr<const StationState>(std::make_shared<StationState>(state_)));
    { std::lock_guard<std::mutex> wake(waitMutex_); }  // a reader between its check and its wait sees it
    changed_.notify_all();
}

StationState Board::Snapshot(uint64_t nowMs) const {
    StationState copy = *std::atomic_load(&published_);
    const uint64_t at = nowMs > copy.atMs ? nowMs : copy.atMs;
    for (PortState& port : copy.ports) {
        if (port.loading && port.leftMs > 0) {
            const auto since = static_cast<int64_t>(at - copy.atMs);
            port.leftMs = port.leftMs > since ? port.leftMs - since : 0;
        }
    }
    copy.elapsedMs = at > startMs_ ? at - startMs_ : 0;
    copy.unitsPerHour = UnitsPerHour(copy, copy.elapsedMs);
    copy.atMs = at;
    return copy;
}

uint64_t Board::Sequence() const { return std::atomic_load(&published_)->sequence; }

uint64_t Board::WaitForChange(uint64_t seen, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> hold(waitMutex_);
    changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
        auto latest = std::atomic_load(&published_);
        return latest->sequence > seen || latest->ended;
    });
    return Sequence();
}

void PortFeed::OnStep(station::Step step, uint32_t unit, const std::string& text) {
    board_.Step(port_, step, unit, text, clock_.NowMs());
    if (next_ != nullptr) next_->OnStep(step, unit, text);
}

void PortFeed::OnLoadStart(uint32_t unit, uint64_t total, uint32_t baud) {
    board_.LoadStart(port_, unit, total, baud, clock_.NowMs());
    if (next_ != nullptr) next_->OnLoadStart(unit, total, baud);
}

void PortFeed::OnProgress(uint32_t unit, uint64_t bytesSent, uint64_t total) {
    board_.Progress(port_, bytesSent, total, clock_.NowMs());
    if (next_ != nullptr) next_->OnProgress(unit, bytesSent, total);
}

void PortFeed::OnLoadEnd(uint32_t unit, const station::LoadEnd& end) {
    board_.LoadEnd(port_, unit, end, clock_.NowMs());
    if (next_ != nullptr) next_->OnLoadEnd(unit, end);
}

}  // namespace board
