// Mode handling, byte routing by line speed, the bootloader's image and erase, and output.
#include "sim/Unit.h"

#include <algorithm>

namespace sim {
namespace {

constexpr uint32_t kGarbledRunQuietMs = 250;  // a run of noise is reported after this much quiet

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
    : config_(config), startup_(config), content_(content), log_(log), faults_(config.seed),
      peer_(content, faults_, log, *this) {
    peer_.setFileGetChunk(config.fileGetChunk);
    setMode(config.mode, config.bootBaud, 0);
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
    e.set("mode", modeName(mode));
    e.set("unit_baud", unitBaud());
    e.set("cts", cts_);
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
    log_.add(nowMs, "reset");
    setMode(config_.mode, config_.bootBaud, nowMs);
}

void Unit::notePcSettings(const LineSettings& settings, uint64_t nowMs) {
    if (settings == pc_) return;
    pc_ = settings;
    Json e = Json::object();
    e.set("baud", settings.baud);
    e.set("parity", settings.parityOdd ? "odd" : settings.parityEven ? "even" : "none");
    e.set("stop_bits", settings.stopBits);
    e.set("data_bits", settings.dataBits);
    e.set("matches_unit", settings.matchesUnitAt(unitBaud()));
    log_.add(nowMs, "line_settings", e);
}

void Unit::notePcModemBits(int bits, uint64_t nowMs) {
    if (bits == pcModem_) return;
    pcModem_ = bits;
    if (bits < 0) return;
    Json e = Json::object();
    e.set("dtr", (bits & int(kModemDtr)) != 0);
    e.set("rts", (bits & int(kModemRts)) != 0);
    log_.add(nowMs, "pc_modem", e);
}

uint32_t Unit::modemBits() const {
    return (cts_ ? kModemCts : 0) | (dsr_ ? kModemDsr : 0) | (car_ ? kModemCar : 0) | (ri_ ? kModemRi : 0);
}

void Unit::setModemBit(uint32_t bit, bool on, uint64_t nowMs) {
    bool* line = bit == kModemCts ? &cts_ : bit == kModemDsr ? &dsr_ : bit == kModemCar ? &car_ : bit == kModemRi ? &ri_ : nullptr;
    if (!line || *line == on) return;
    *line = on;
    Json e = Json::object();
    e.set("bits", modemBits());
    e.set("cts", cts_);
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

void Unit::sendNow(const std::vector<uint8_t>& bytes) { emit(bytes, unitBaud()); }

void Unit::sendAt(uint64_t atMs, const std::vector<uint8_t>& bytes) {
    scheduled_.push_back({atMs, bytes, unitBaud()});
}

void Unit::sendRaw(const std::vector<uint8_t>& bytes, uint64_t nowMs) {
    Json e = Json::object();
    e.set("bytes_hex", toHex(bytes));
    e.set("unit_baud", unitBaud());
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
    e.set("bytes", garbledRun_);
    e.set("pc_settings", lastGarbledSettings_);
    e.set("unit_settings", LineSettings{unitBaud(), true, false, 1, 8}.describe());
    e.set("since_ms", garbledRunStartMs_);
    log_.add(nowMs, "garbled", e);
    garbledRun_ = 0;
}

void Unit::startErase(uint64_t nowMs) {
    erase_.begin(nowMs, config_.eraseMs, config_.eraseFault);
    Json e = Json::object();
    e.set("duration_ms", config_.eraseMs);
    e.set("fault", eraseFaultName(config_.eraseFault));
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
        e.set("unit_baud", bootBaud_);
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

void Unit::tick(uint64_t nowMs) {
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
        e.set("reply_hex", toHex(reply));
        e.set("fault", eraseFaultName(config_.eraseFault));
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
    if (image_.finishIfQuiet(nowMs, config_.quietGapMs)) {
        lastImage_ = image_.report();
        image_.clear();
        showingCount_ = true;
        log_.add(nowMs, "image_done", lastImage_.toJson());
        setModemBit(kModemCts, false, nowMs);
    }
    if (garbledRun_ && nowMs - garbledRunLastMs_ >= kGarbledRunQuietMs) flushGarbled(nowMs);
    if (mode_ == Mode::Running && !erase_.erasing()) peer_.tick(nowMs);
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
    return std::max(next, nowMs);
}

Json Unit::status() const {
    Json j = Json::object();
    j.set("mode", modeName(mode_));
    j.set("unit_baud", unitBaud());
    j.set("boot_baud", bootBaud_);
    Json line = Json::object();
    line.set("baud", pc_.baud);
    line.set("parity", pc_.parityOdd ? "odd" : pc_.parityEven ? "even" : "none");
    line.set("parity_odd", pc_.parityOdd);
    line.set("stop_bits", pc_.stopBits);
    line.set("data_bits", pc_.dataBits);
    line.set("matches_unit", pc_.matchesUnitAt(unitBaud()));
    j.set("line", line);
    Json modem = Json::object();
    modem.set("cts", cts_);
    modem.set("dsr", dsr_);
    modem.set("car", car_);
    modem.set("ri", ri_);
    modem.set("bits", modemBits());
    if (pcModem_ >= 0) {
        modem.set("dtr", (pcModem_ & int(kModemDtr)) != 0);
        modem.set("rts", (pcModem_ & int(kModemRts)) != 0);
    } else {
        modem.set("dtr", Json());
        modem.set("rts", Json());
    }
    j.set("modem", modem);
    const PeerCounters& pc = peer_.counters();
    Json counters = Json::object();
    counters.set("bytes_in", bytesIn_);
    counters.set("bytes_out", bytesOut_);
    counters.set("garbled_in", garbledIn_);
    counters.set("garbled_out", garbledOut_);
    counters.set("ignored_in", ignoredIn_);
    counters.set("output_dropped", outputDropped_);
    counters.set("output_pending", out_.size());
    counters.set("frames_in", pc.framesIn);
    counters.set("frames_out", pc.framesOut);
    counters.set("bad_checksums_in", pc.badChecksums);
    counters.set("oversize_in", pc.oversize);
    counters.set("stalled_in", pc.stalls);
    counters.set("duplicates_in", pc.duplicates);
    counters.set("faults_applied", faults_.applied());
    counters.set("fixed_requests", pc.fixedRequests);
    j.set("counters", counters);
    if (pc.fixedRequests) j.set("last_fixed_request", pc.lastFixedRequest);
    Json image = image_.active() ? image_.report().toJson() : Json::object().set("present", false);
    j.set("image", image);
    j.set("last_image", lastImage_.toJson());
    j.set("showing_count", showingCount_);
    // The bottom line of the unit's display: the bootloader shows the bytes it has received
    // in parentheses, the number the technician compares with the wizard's last page.
    std::string display;
    if (mode_ == Mode::Bootloader) {
        uint64_t count = image_.active() ? image_.report().bytes + image_.report().garbledBytes
                         : showingCount_ ? lastImage_.bytes + lastImage_.garbledBytes
                                         : 0;
        display = "(" + std::to_string(count) + ")";
    }
    j.set("display", display);
    Json erase = Json::object();
    erase.set("erasing", erase_.erasing());
    erase.set("duration_ms", config_.eraseMs);
    erase.set("fault", eraseFaultName(config_.eraseFault));
    erase.set("requests", erase_.requests());
    erase.set("completed", erase_.completed());
    j.set("erase", erase);
    j.set("transfer", peer_.transferJson());
    j.set("pacing", config_.pacing);
    j.set("garble_output", config_.garbleOutput);
    j.set("quiet_gap_ms", config_.quietGapMs);
    j.set("file_chunk", peer_.fileGetChunk());
    return j;
}

}  // namespace sim
