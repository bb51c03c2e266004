// The line of units (see UnitLine.h): driven from the unit's tick, it watches the image the
// unit receives and changes the unit's mode as units come and go.
#include "sim/UnitLine.h"

#include <cstdlib>

#include "sim/Unit.h"

namespace sim {

namespace {

const char* faultName(LineFault kind) {
    switch (kind) {
        case LineFault::None: return "none";
        case LineFault::NeverConfirm: return "never_confirm";
        case LineFault::DropMidImage: return "drop_mid_image";
    }
    return "none";
}

const char* phaseName(int phase) {
    static const char* const kNames[] = {"present", "holding", "away", "over"};
    return kNames[phase];
}

}  // namespace

bool parseLineFault(const std::string& text, LineConfig& config, std::string& error) {
    size_t first = text.find(':');
    char* end = nullptr;
    unsigned long unit = std::strtoul(text.c_str(), &end, 10);
    if (first == std::string::npos || end != text.c_str() + first || unit == 0) {
        error = "--line-fault " + text + ": give UNIT:never_confirm or UNIT:drop_mid_image:BYTES";
        return false;
    }
    std::string rest = text.substr(first + 1);
    LineUnitFault fault;
    if (rest == "never_confirm") {
        fault.kind = LineFault::NeverConfirm;
    } else if (rest.rfind("drop_mid_image:", 0) == 0) {
        std::string bytes = rest.substr(sizeof "drop_mid_image:" - 1);
        fault.kind = LineFault::DropMidImage;
        fault.atBytes = std::strtoull(bytes.c_str(), &end, 10);
        if (bytes.empty() || *end != '\0' || fault.atBytes == 0) {
            error = "--line-fault " + text + ": BYTES must be a positive number";
            return false;
        }
    } else {
        error = "--line-fault " + text + ": the fault is never_confirm or drop_mid_image:BYTES";
        return false;
    }
    config.faults[static_cast<uint32_t>(unit)] = fault;
    return true;
}

const LineUnitFault& UnitLine::faultOf(uint32_t unit) const {
    static const LineUnitFault kNone;
    auto it = config_.faults.find(unit);
    return it == config_.faults.end() ? kNone : it->second;
}

bool UnitLine::dropsCtsAfterImage() const { return !active() || faultOf(current_).kind != LineFault::NeverConfirm; }

void UnitLine::start(uint64_t nowMs) {
    history_.clear();
    if (!active()) return;
    current_ = 1;
    phase_ = Phase::Present;
    presentSinceMs_ = nowMs;
}

void UnitLine::leave(Unit& unit, uint64_t nowMs, const ImageReport& image, bool off) {
    Json entry = Json::object();
    entry["unit"] = current_;
    entry["fault"] = faultName(faultOf(current_).kind);
    entry["bytes"] = image.present ? image.bytes : 0;
    entry["garbled_bytes"] = image.present ? image.garbledBytes : 0;
    entry["sha256"] = image.present ? image.sha256 : std::string();
    entry["finished"] = image.present && image.finished;
    entry["start_ms"] = image.present ? image.startMs : 0;
    entry["last_byte_ms"] = image.present ? image.endMs : 0;
    entry["left_ms"] = nowMs;
    history_.push_back(entry);
    if (off) unit.setMode(Mode::Off, unit.settings().bootBaud, nowMs);
    phase_ = Phase::Away;
    dueMs_ = nowMs + config_.gapMs;
}

void UnitLine::tick(Unit& unit, uint64_t nowMs) {
    if (!active()) return;
    const LineUnitFault& fault = faultOf(current_);
    switch (phase_) {
        case Phase::Present: {
            const ImageReceiver& receiving = unit.image();
            if (fault.kind == LineFault::DropMidImage && receiving.active() &&
                receiving.report().bytes >= fault.atBytes) {
                ImageReport cut = receiving.report();
                cut.sha256 = receiving.digest();
                leave(unit, nowMs, cut, true);  // switched off mid-image: CTS falls at once
                return;
            }
            const ImageReport& last = unit.lastImage();
            if (!last.present || !last.finished || last.startMs < presentSinceMs_) return;
            if (fault.kind == LineFault::NeverConfirm) {
                held_ = last;
                phase_ = Phase::Holding;
                dueMs_ = nowMs + config_.holdMs;
                return;
            }
            leave(unit, nowMs, last, false);  // the unit dropped CTS itself
            return;
        }
        case Phase::Holding:
            if (nowMs >= dueMs_) leave(unit, nowMs, held_, true);
            return;
        case Phase::Away:
            if (nowMs < dueMs_) return;
            if (current_ >= config_.units) {
                phase_ = Phase::Over;
                unit.setMode(Mode::Off, unit.settings().bootBaud, nowMs);
                return;
            }
            ++current_;
            phase_ = Phase::Present;
            presentSinceMs_ = nowMs;
            unit.setMode(Mode::Bootloader, unit.settings().bootBaud, nowMs);
            return;
        case Phase::Over: return;
    }
}

uint64_t UnitLine::nextDeadlineMs() const {
    return active() && (phase_ == Phase::Holding || phase_ == Phase::Away) ? dueMs_ : UINT64_MAX;
}

Json UnitLine::report() const {
    Json j = Json::object();
    j["units"] = config_.units;
    j["current"] = current_;
    j["phase"] = phaseName(static_cast<int>(phase_));
    Json history = Json::array();
    for (const Json& entry : history_) history.push_back(entry);
    j["history"] = history;
    return j;
}

}  // namespace sim
