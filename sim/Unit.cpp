// Mode handling, byte routing by line speed, the bootloader's image and erase, and output.
#include "sim/Unit.h"

#include <algorithm>

namespace sim {
namespace {

constexpr uint32_t kGarbledRunQuietMs = 250;  // a run of noise is reported after this much quiet
constexpr uint32_t kByteValues = 256;
constexpr uint8_t kFrameMarkByte = 0x7E;  // babble never holds one, so it never starts a frame

}  // namespace

bool parseMode(const std::string& name, Mode& out) {
    if (name == "off") out = Mode::Off;
    else if (name == "bootloader") out = Mode::Bootloader;
    else if (name == "running") out = Mode::Running;
    else return false;
    return true;
}

const char* modeName(Mode mode) {
    switch (mode) {
        case Mode::Off: return "off";
        case Mode::Bootloader: return "bootloader";
        case Mode::Running: return "running";
    }
    return "off";
}

Unit::Unit(const UnitConfig& config, Content& content, EventLog& log)
    : config_(config),
      startup_(config),
      content_(content),
      log_(log),
      faults_(config.seed),
      peer_(content, faults_, log, *this),
      line_(config.line) {
    peer_.setFileGetChunk(config.fileGetChunk);
    // A line's first unit is in its bootloader menu from the start.
    setMode(line_.active() ? Mode::Bootloader : config.mode, config.bootBaud, 0);
    line_.start(0);
}

void Unit::setMode(Mode mode, uint32_t bootBaud, uint64_t nowMs) {
    if (image_.active()) {
        lastImage_ = image_.report();  // cut short: reported as not finished
        image_.clear();
    }
    held_.clear();
    showingCount_ = false;
    erase_.abort();
    peer_.restart();
    peer_.setFileGetChunk(config_.fileGetChunk);
    scheduled_.clear();
    mode_ = mode;
    bootBaud_ = bootBaud;
    cts_ = mode == Mode::Bootloader;  // the bootloader menu is ready for an image
    dsr_ = mode != Mode::Off;
    car_ = ri_ = false;
    Json e = Json::object();
    e["mode"] = modeName(mode);
    e["unit_baud"] = unitBaud();
    e["cts"] = cts_;
    log_.add(nowMs, "mode", e);
}

void Unit::pressEnter(uint64_t nowMs) { setMode(Mode::Running, bootBaud_, nowMs); }

void Unit::reset(uint64_t nowMs) {
    config_ = startup_;
    faults_.clear();
    faults_.reseed(config_.seed);
    lastImage_ = ImageReport();
    image_.clear();
    out_.clear();
    erase_ = EraseHandshake();
    peer_.reset();
    bytesIn_ = bytesOut_ = garbledIn_ = garbledOut_ = ignoredIn_ = outputDropped_ = 0;
    garbledRun_ = 0;
    babble_ = Babble();
    log_.add(nowMs, "reset");
    line_ = UnitLine(config_.line);
    setMode(line_.active() ? Mode::Bootloader : config_.mode, config_.bootBaud, nowMs);
    line_.start(nowMs);
}

void Unit::notePcSettings(const LineSettings& settings, uint64_t nowMs) {
    if (settings == pc_) return;
    pc_ = settings;
    Json e = Json::object();
    e["baud"] = settings.baud;
    e["parity"] = settings.parityOdd ? "odd" : settings.parityEven ? "even" : "none";
    e["stop_bits"] = settings.stopBits;
    e["data_bits"] = settings.dataBits;
    e["matches_unit"] = settings.matchesUnitAt(unitBaud());
    log_.add(nowMs, "line_settings", e);
}

void Unit::notePcModemBits(int bits, uint64_t nowMs) {
    if (bits == pcModem_) return;
    pcModem_ = bits;
    if (bits < 0) return;
    Json e = Json::object();
    e["dtr"] = (bits & int(kModemDtr)) != 0;
    e["rts"] = (bits & int(kModemRts)) != 0;
    log_.add(nowMs, "pc_modem", e);
}

uint32_t Unit::modemBits() const {
    return (cts_ ? kModemCts : 0) | (dsr_ ? kModemDsr : 0) | (car_ ? kModemCar : 0) | (ri_ ? kModemRi : 0);
}

void Unit::setModemBit(uint32_t bit, bool on, uint64_t nowMs) {
    bool* line = bit == kModemCts   ? &cts_
                 : bit == kModemDsr ? &dsr_
                 : bit == kModemCar ? &car_
                 : bit == kModemRi  ? &ri_
                                    : nullptr;
    if (!line || *line == on) return;
    *line = on;
    Json e = Json::object();
    e["bits"] = modemBits();
    e["cts"] = cts_;
    log_.add(nowMs, "modem", e);
}

void Unit::emit(const std::vector<uint8_t>& bytes, uint32_t atBaud) {
    if (out_.size() + bytes.size() > kMaxPendingOutputBytes) {
        // The PC is not reading; a real line would lose these too.
        outputDropped_ += bytes.size();
        return;
    }
    if (config_.garbleOutput && !pc_.matchesUnitAt(atBaud)) {
        for (uint8_t b : bytes) out_.push_back(garbleByte(b));
        garbledOut_ += bytes.size();
    } else {
        out_.insert(out_.end(), bytes.begin(), bytes.end());
    }
}

void Unit::sendNow(const std::vector<uint8_t>& bytes) {
    if (babble_.on) {
        ++babble_.framesLost;
        return;
    }
    emit(bytes, unitBaud());
}

void Unit::sendAt(uint64_t atMs, const std::vector<uint8_t>& bytes) {
    if (babble_.on) {
        ++babble_.framesLost;
        return;
    }
    scheduled_.push_back({atMs, bytes, unitBaud()});
}

void Unit::setBabble(bool on, uint32_t everyMs, uint32_t bytes, uint64_t nowMs) {
    babble_.on = on;
    babble_.everyMs = everyMs;
    babble_.bytes = bytes;
    babble_.nextMs = nowMs;
    Json e = Json::object();
    e["on"] = on;
    e["every_ms"] = everyMs;
    e["bytes"] = bytes;
    log_.add(nowMs, "babble", e);
}

void Unit::sendRaw(const std::vector<uint8_t>& bytes, uint64_t nowMs) {
    Json e = Json::object();
    e["bytes_hex"] = toHex(bytes);
    e["unit_baud"] = unitBaud();
    log_.add(nowMs, "raw_out", e);
    emit(bytes, unitBaud());
}

void Unit::outputTaken(size_t bytes) {
    bytes = std::min(bytes, out_.size());
    out_.erase(out_.begin(), out_.begin() + long(bytes));
    bytesOut_ += bytes;
}

void Unit::noteGarbled(size_t size, const LineSettings& sentUnder, uint64_t nowMs) {
    garbledIn_ += size;
    if (garbledRun_ && garbledRunBaud_ != sentUnder.baud) flushGarbled(nowMs);
    if (!garbledRun_) garbledRunStartMs_ = nowMs;
    garbledRun_ += size;
    garbledRunBaud_ = sentUnder.baud;
    garbledRunLastMs_ = nowMs;
    lastGarbledSettings_ = sentUnder.describe();
}

void Unit::flushGarbled(uint64_t nowMs) {
    if (!garbledRun_) return;
    Json e = Json::object();
    e["bytes"] = garbledRun_;
    e["pc_settings"] = lastGarbledSettings_;
    e["unit_settings"] = LineSettings{unitBaud(), true, false, 1, 8}.describe();
    e["since_ms"] = garbledRunStartMs_;
    log_.add(nowMs, "garbled", e);
    garbledRun_ = 0;
}

void Unit::startErase(uint64_t nowMs) {
    erase_.begin(nowMs, config_.eraseMs, config_.eraseFault);
    Json e = Json::object();
    e["duration_ms"] = config_.eraseMs;
    e["fault"] = eraseFaultName(config_.eraseFault);
    log_.add(nowMs, "erase_started", e);
}

void Unit::route(const uint8_t* data, size_t size, const LineSettings& sentUnder, uint64_t nowMs) {
    if (!size) return;
    bool good = sentUnder.matchesUnitAt(unitBaud());
    if (good) flushGarbled(nowMs);
    else noteGarbled(size, sentUnder, nowMs);
    if (mode_ == Mode::Running) {
        if (good) peer_.onBytes(data, size, nowMs);
        return;
    }
    // The bootloader counts whatever reaches it once a stream has begun; a download at the
    // wrong speed still arrives, as noise.
    if (!image_.active()) {
        image_.start(nowMs, bootBaud_);
        Json e = Json::object();
        e["unit_baud"] = bootBaud_;
        log_.add(nowMs, "image_started", e);
    }
    if (good) image_.addGood(data, size, sentUnder.baud, nowMs);
    else image_.addGarbled(size, sentUnder.baud, nowMs);
}

void Unit::releaseHeld(uint64_t nowMs) {
    if (held_.empty()) return;
    std::vector<uint8_t> held;
    held.swap(held_);
    route(held.data(), held.size(), heldSettings_, nowMs);
}

void Unit::onLineBytes(const uint8_t* data, size_t size, const LineSettings& sentUnder, uint64_t nowMs) {
    if (!size) return;
    bytesIn_ += size;
    if (mode_ == Mode::Off || erase_.erasing() || showingCount_) {
        ignoredIn_ += size;
        return;
    }
    size_t i = 0;
    if (sentUnder.matchesUnitAt(kEraseBaud) && !image_.active()) {
        static const uint8_t kRequest[2] = {kEraseRequest0, kEraseRequest1};
        if (held_.empty()) heldSettings_ = sentUnder;
        while (i < size && held_.size() < 2 && data[i] == kRequest[held_.size()]) {
            held_.push_back(data[i++]);
            heldSinceMs_ = nowMs;
        }
        if (i == size && !held_.empty()) return;  // an erase request, or the start of something else
    }
    releaseHeld(nowMs);  // more bytes followed: what was held is ordinary data
    route(data + i, size - i, sentUnder, nowMs);
}

void Unit::tick(uint64_t nowMs, size_t bytesWaiting) {
    for (size_t i = 0; i < scheduled_.size();) {
        if (scheduled_[i].atMs <= nowMs) {
            emit(scheduled_[i].bytes, scheduled_[i].baud);
            scheduled_.erase(scheduled_.begin() + long(i));
        } else {
            ++i;
        }
    }
    std::vector<uint8_t> reply;
    if (erase_.finishIfDone(nowMs, reply)) {
        Json e = Json::object();
        e["reply_hex"] = toHex(reply);
        e["fault"] = eraseFaultName(config_.eraseFault);
        log_.add(nowMs, "erase_done", e);
        if (!reply.empty()) emit(reply, kEraseBaud);
    }
    if (!held_.empty() && nowMs - heldSinceMs_ >= kEraseConfirmMs) {
        if (held_.size() == 2) {
            held_.clear();
            startErase(nowMs);
        } else {
            releaseHeld(heldSinceMs_);
        }
    }
    if (image_.finishIfQuiet(nowMs, config_.quietGapMs, bytesWaiting)) {
        lastImage_ = image_.report();
        image_.clear();
        showingCount_ = true;
        log_.add(nowMs, "image_done", lastImage_.toJson());
        if (line_.dropsCtsAfterImage()) setModemBit(kModemCts, false, nowMs);
    }
    line_.tick(*this, nowMs);
    if (garbledRun_ && nowMs - garbledRunLastMs_ >= kGarbledRunQuietMs) flushGarbled(nowMs);
    if (mode_ == Mode::Running && !erase_.erasing()) peer_.tick(nowMs);
    if (babble_.on && nowMs >= babble_.nextMs) {
        std::vector<uint8_t> noise(babble_.bytes);
        for (uint8_t& b : noise) {
            b = static_cast<uint8_t>(faults_.next(kByteValues));
            if (b == kFrameMarkByte) b = static_cast<uint8_t>(b + 1);
        }
        emit(noise, unitBaud());
        babble_.nextMs = nowMs + babble_.everyMs;
    }
}

uint64_t Unit::nextDeadlineMs(uint64_t nowMs) const {
    uint64_t next = UINT64_MAX;
    for (const auto& s : scheduled_) next = std::min(next, s.atMs);
    if (erase_.erasing()) next = std::min(next, erase_.doneAtMs());
    if (!held_.empty()) next = std::min(next, heldSinceMs_ + kEraseConfirmMs);
    if (image_.active()) next = std::min(next, image_.lastByteMs() + config_.quietGapMs);
    if (garbledRun_) next = std::min(next, garbledRunLastMs_ + kGarbledRunQuietMs);
    // The same condition as in tick(): a deadline tick() would not act on would wake the
    // loop again and again.
    if (mode_ == Mode::Running && !erase_.erasing()) next = std::min(next, peer_.nextDeadlineMs());
    if (babble_.on) next = std::min(next, babble_.nextMs);
    next = std::min(next, line_.nextDeadlineMs());
    return std::max(next, nowMs);
}

Json Unit::status() const {
    Json j = Json::object();
    j["mode"] = modeName(mode_);
    j["unit_baud"] = unitBaud();
    j["boot_baud"] = bootBaud_;
    Json line = Json::object();
    line["baud"] = pc_.baud;
    line["parity"] = pc_.parityOdd ? "odd" : pc_.parityEven ? "even" : "none";
    line["parity_odd"] = pc_.parityOdd;
    line["stop_bits"] = pc_.stopBits;
    line["data_bits"] = pc_.dataBits;
    line["matches_unit"] = pc_.matchesUnitAt(unitBaud());
    j["line"] = line;
    Json modem = Json::object();
    modem["cts"] = cts_;
    modem["dsr"] = dsr_;
    modem["car"] = car_;
    modem["ri"] = ri_;
    modem["bits"] = modemBits();
    if (pcModem_ >= 0) {
        modem["dtr"] = (pcModem_ & int(kModemDtr)) != 0;
        modem["rts"] = (pcModem_ & int(kModemRts)) != 0;
    } else {
        modem["dtr"] = Json();
        modem["rts"] = Json();
    }
    j["modem"] = modem;
    const PeerCounters& pc = peer_.counters();
    Json counters = Json::object();
    counters["bytes_in"] = bytesIn_;
    counters["bytes_out"] = bytesOut_;
    counters["garbled_in"] = garbledIn_;
    counters["garbled_out"] = garbledOut_;
    counters["ignored_in"] = ignoredIn_;
    counters["output_dropped"] = outputDropped_;
    counters["output_pending"] = out_.size();
    counters["frames_in"] = pc.framesIn;
    counters["frames_out"] = pc.framesOut;
    counters["bad_checksums_in"] = pc.badChecksums;
    counters["oversize_in"] = pc.oversize;
    counters["stalled_in"] = pc.stalls;
    counters["duplicates_in"] = pc.duplicates;
    counters["faults_applied"] = faults_.applied();
    counters["fixed_requests"] = pc.fixedRequests;
    j["counters"] = counters;
    if (pc.fixedRequests) j["last_fixed_request"] = pc.lastFixedRequest;
    Json image = image_.active() ? image_.report().toJson() : Json{{"present", false}};
    j["image"] = image;
    j["last_image"] = lastImage_.toJson();
    j["showing_count"] = showingCount_;
    // The bottom line of the unit's display: the bootloader shows the bytes it has received
    // in parentheses, the number the technician compares with the wizard's last page.
    std::string display;
    if (mode_ == Mode::Bootloader) {
        uint64_t count = image_.active() ? image_.report().bytes + image_.report().garbledBytes
                         : showingCount_ ? lastImage_.bytes + lastImage_.garbledBytes
                                         : 0;
        display = "(" + std::to_string(count) + ")";
    }
    j["display"] = display;
    Json erase = Json::object();
    erase["erasing"] = erase_.erasing();
    erase["duration_ms"] = config_.eraseMs;
    erase["fault"] = eraseFaultName(config_.eraseFault);
    erase["requests"] = erase_.requests();
    erase["completed"] = erase_.completed();
    j["erase"] = erase;
    j["transfer"] = peer_.transferJson();
    j["pacing"] = config_.pacing;
    j["garble_output"] = config_.garbleOutput;
    j["quiet_gap_ms"] = config_.quietGapMs;
    j["file_chunk"] = peer_.fileGetChunk();
    Json babble = Json::object();
    babble["on"] = babble_.on;
    babble["every_ms"] = babble_.everyMs;
    babble["bytes"] = babble_.bytes;
    babble["frames_lost"] = babble_.framesLost;
    j["babble"] = babble;
    return j;
}

}  // namespace sim
