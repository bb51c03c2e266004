// Reading and writing the simulator's JSON lines with nlohmann-json, and the hex helpers
// its requests and events use for raw bytes.
#include "sim/Json.h"

namespace sim {
namespace {

// Thrown from the parser callback to stop reading a request nested too deeply.
struct TooDeep {};

}  // namespace

bool parseJson(std::string_view text, Json& out, std::string& error) {
    auto bounded = [](int depth, Json::parse_event_t event, Json&) {
        if ((event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start) &&
            depth >= kMaxJsonDepth)
            throw TooDeep{};
        return true;
    };
    try {
        out = Json::parse(text.begin(), text.end(), bounded);
        return true;
    } catch (const TooDeep&) {
        error = "JSON nested too deeply";
    } catch (const Json::exception& e) {
        error = e.what();
    }
    out = Json();
    return false;
}

std::string jsonLine(const Json& value) {
    constexpr int kOneLine = -1;
    constexpr bool kAsciiOnly = true;
    return value.dump(kOneLine, ' ', kAsciiOnly, Json::error_handler_t::replace);
}

const Json* member(const Json& value, std::string_view key) {
    if (!value.is_object()) return nullptr;
    auto it = value.find(key);
    return it == value.end() ? nullptr : &*it;
}

std::string toHex(const uint8_t* data, size_t size) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += kHex[data[i] >> 4];
        out += kHex[data[i] & 0xF];
    }
    return out;
}

bool fromHex(std::string_view text, std::vector<uint8_t>& out) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    out.clear();
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == ':' || text[i] == '-') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size()) return false;
        int hi = digit(text[i]), lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(uint8_t(hi * 16 + lo));
        i += 2;
    }
    return true;
}

}  // namespace sim
