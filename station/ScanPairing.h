// Serial numbers read from barcode scanners, paired with the units they label. A code is
// checked first (no control characters, not overlong, matching the line's pattern); a good
// one waits in its port's slot for the next unit that comes up there (or the one waiting),
// and a second scan before that replaces the first. A station-wide scanner takes a fixture's
// label first and then the unit's code. Whatever happens is said in the operator's words as
// a notice that the port's own thread collects, so the board hears it in the port's order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

namespace station {

// Letters, digits and '-', 1 to 40 characters: what a serial may be unless the line says.
inline constexpr const char* kDefaultSerialPattern = "[A-Za-z0-9-]{1,40}";
// A scanner's line longer than this is refused whole (no serial is that long); the reader
// keeps no more than one character past it.
inline constexpr size_t kMaxCodeLength = 128;
// How much of a refused code a notice repeats.
inline constexpr size_t kShownCodeLength = 24;

// Which codes may be serials. Built once from the pattern, then read by any thread.
class CodeCheck {
public:
    // False with *error when the pattern is not a regular expression.
    static bool Make(const std::string& pattern, std::unique_ptr<CodeCheck>* check, std::string* error);
    // Empty when the code may be a serial, otherwise why not, in the operator's words.
    std::string Refusal(const std::string& code) const;
    const std::string& Pattern() const { return pattern_; }

private:
    CodeCheck(std::string pattern, std::regex regex) : pattern_(std::move(pattern)), regex_(std::move(regex)) {}
    std::string pattern_;
    std::regex regex_;
};

// A code as a notice may repeat it: printable, and cut to kShownCodeLength.
std::string ShownCode(const std::string& code);

// Where a scanner's reader hands what it read (from the reader's thread).
class ScanTarget {
public:
    virtual ~ScanTarget() = default;
    virtual void Scanned(const std::string& code) = 0;
    // Something about the scanner itself ("scanner lost"), for the board.
    virtual void Tell(const std::string& text) = 0;
};

// One port's scanned serial and its notices. Scanners offer codes from their threads; the
// port's cycle takes the serial when its unit comes up and collects the notices.
class ScanSlot final : public ScanTarget {
public:
    explicit ScanSlot(const CodeCheck& check) : check_(check) {}
    ScanSlot(const ScanSlot&) = delete;
    ScanSlot& operator=(const ScanSlot&) = delete;

    // A code read for this port. False when it was refused (the notice says why).
    bool Offer(const std::string& code);
    void Scanned(const std::string& code) override { Offer(code); }
    void Tell(const std::string& text) override;
    // Whether a serial waits for the next unit.
    bool Holding() const;
    // The waiting serial, given to the unit now coming up; "" when none was scanned.
    std::string Take();
    // The notices since the last call, oldest first.
    std::vector<std::string> Notices();

private:
    const CodeCheck& check_;
    mutable std::mutex mutex_;
    std::string serial_;
    std::vector<std::string> notices_;
};

// The station's one scanner: a fixture's label, then the unit's code for that fixture. A
// unit's code with no fixture chosen is refused; each fixture label chooses anew.
class StationScanner final : public ScanTarget {
public:
    struct Fixture {
        std::string label;  // the code on the fixture's own label ("F07")
        ScanSlot* slot;
    };
    StationScanner(std::vector<Fixture> fixtures, const CodeCheck& check);

    // A code the scanner read (from the scanner's thread).
    void Scanned(const std::string& code) override;
    // Something about the scanner itself, told on every fixture.
    void Tell(const std::string& text) override;

private:
    // Where a notice that concerns no fixture goes: the last one chosen, else the first.
    ScanSlot* Nearest() const;
    const std::vector<Fixture> fixtures_;
    const CodeCheck& check_;
    std::mutex mutex_;  // the choice: codes may come from a reopened scanner's new thread
    const Fixture* chosen_ = nullptr;
    const Fixture* lastChosen_ = nullptr;
};

}  // namespace station
