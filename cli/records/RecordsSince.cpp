// Reading a date or time for the records' filter (see RecordsSince.h).
#include "cli/records/RecordsSince.h"

#include <cctype>
#include <set>

namespace cli {

namespace {

// Whether text is a date ("2026-12-08"), optionally with a time to the hour, minute, second
// or millisecond ("2026-12-08T06:30", "2026-12-08 06:30:05.250"), and a closing Z.
bool IsIsoPrefix(const std::string& text) {
    // Each character of the longest form: d a digit, T the date's end, any other itself.
    static const std::string kForm = "dddd-dd-ddTdd:dd:dd.ddd";
    static const std::set<size_t> kEnds = {10, 13, 16, 19, 21, 22, 23};
    std::string body = !text.empty() && text.back() == 'Z' ? text.substr(0, text.size() - 1) : text;
    if (kEnds.count(body.size()) == 0) return false;
    for (size_t i = 0; i < body.size(); ++i) {
        const char want = kForm[i];
        const char c = body[i];
        if (want == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : want == 'T' ? c != 'T' && c != ' ' : c != want)
            return false;
    }
    return true;
}

}  // namespace

bool RecordsSince(std::string* since) {
    if (!IsIsoPrefix(*since)) return false;
    if (since->size() > 10) (*since)[10] = 'T';
    if (since->back() == 'Z') since->pop_back();
    return true;
}

}  // namespace cli
