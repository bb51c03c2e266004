// Scanned codes checked and paired with their units (see ScanPairing.h).
// GCC 12 warns of an uninitialised std::function inside libstdc++'s own regex compiler at -O2,
// a known false alarm in the library's code, not this file's.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "station/ScanPairing.h"

#include <utility>

namespace station {

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;

bool IsControl(unsigned char c) { return c < kFirstPrintable || c == kDelete; }

}  // namespace

bool CodeCheck::Make(const std::string& pattern, std::unique_ptr<CodeCheck>* check, std::string* error) {
    try {
        check->reset(new CodeCheck(pattern, std::regex(pattern, std::regex::ECMAScript)));
        return true;
    } catch (const std::regex_error& e) {
        *error = "\"" + pattern + "\" is not a regular expression (" + e.what() + ")";
        return false;
    }
}

std::string CodeCheck::Refusal(const std::string& code) const {
    if (code.size() > kMaxCodeLength) {
        return "refused a scan of more than " + std::to_string(kMaxCodeLength) + " characters";
    }
    for (unsigned char c : code) {
        if (IsControl(c)) return "refused the scan \"" + ShownCode(code) + "\": it holds control characters";
    }
    bool matches = false;
    try {
        matches = std::regex_match(code, regex_);
    } catch (const std::regex_error&) {
        // A pattern too costly for this code: the code is not taken, the port goes on.
    }
    if (matches) return "";
    if (code.empty()) return "refused an empty scan";
    return "refused the scan \"" + ShownCode(code) + "\": not a serial (serial_pattern " + pattern_ + ")";
}

std::string ShownCode(const std::string& code) {
    std::string shown;
    for (size_t i = 0; i < code.size() && i < kShownCodeLength; ++i) {
        const unsigned char c = static_cast<unsigned char>(code[i]);
        shown += IsControl(c) || c > kDelete ? '?' : static_cast<char>(c);
    }
    if (code.size() > kShownCodeLength) shown += "...";
    return shown;
}

bool ScanSlot::Offer(const std::string& code) {
    const std::string refusal = check_.Refusal(code);
    std::lock_guard<std::mutex> hold(mutex_);
    if (!refusal.empty()) {
        notices_.push_back(refusal);
        return false;
    }
    if (serial_.empty()) {
        notices_.push_back("SN " + code + " scanned for the next unit");
    } else if (serial_ == code) {
        notices_.push_back("SN " + code + " scanned again");
    } else {
        notices_.push_back("SN " + code + " scanned: replaces SN " + serial_);
    }
    serial_ = code;
    return true;
}

void ScanSlot::Tell(const std::string& text) {
    std::lock_guard<std::mutex> hold(mutex_);
    notices_.push_back(text);
}

bool ScanSlot::Holding() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return !serial_.empty();
}

std::string ScanSlot::Take() {
    std::lock_guard<std::mutex> hold(mutex_);
    return std::exchange(serial_, std::string());
}

std::vector<std::string> ScanSlot::Notices() {
    std::lock_guard<std::mutex> hold(mutex_);
    return std::exchange(notices_, {});
}

StationScanner::StationScanner(std::vector<Fixture> fixtures, const CodeCheck& check)
    : fixtures_(std::move(fixtures)), check_(check) {}

void StationScanner::Scanned(const std::string& code) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (const Fixture& fixture : fixtures_) {
        if (fixture.label.empty() || fixture.label != code) continue;
        chosen_ = lastChosen_ = &fixture;
        fixture.slot->Tell("fixture " + fixture.label + " chosen: scan the unit's label");
        return;
    }
    if (chosen_ == nullptr) {
        ScanSlot* nearest = Nearest();
        const std::string refusal = check_.Refusal(code);
        if (nearest == nullptr) return;
        if (!refusal.empty()) {
            nearest->Tell(refusal);
        } else {
            nearest->Tell("refused SN " + code + ": scan the fixture's label first");
        }
        return;
    }
    // A refused code leaves the fixture chosen, so the operator simply scans the unit again.
    if (chosen_->slot->Offer(code)) chosen_ = nullptr;
}

void StationScanner::Tell(const std::string& text) {
    for (const Fixture& fixture : fixtures_) fixture.slot->Tell(text);
}

ScanSlot* StationScanner::Nearest() const {
    if (lastChosen_ != nullptr) return lastChosen_->slot;
    return fixtures_.empty() ? nullptr : fixtures_.front().slot;
}

}  // namespace station
