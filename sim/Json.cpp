// Recursive-descent JSON reader and compact writer. Depth is bounded so a hostile control
// client cannot exhaust the stack.
#include "sim/Json.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {

constexpr int kMaxDepth = 32;

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool document(Json& out, std::string& error) {
        if (!value(out, 0)) { error = error_; return false; }
        skipBlanks();
        if (pos_ != text_.size()) { error = "unexpected text after the JSON value"; return false; }
        return true;
    }

private:
    void skipBlanks() {
        while (pos_ < text_.size() &&
               (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r' || text_[pos_] == '\n'))
            ++pos_;
    }
    bool fail(const char* why) { error_ = why; return false; }
    bool literal(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    bool value(Json& out, int depth) {
        if (depth > kMaxDepth) return fail("JSON nested too deeply");
        skipBlanks();
        if (pos_ >= text_.size()) return fail("unexpected end of JSON");
        char c = text_[pos_];
        if (c == '{') return object(out, depth);
        if (c == '[') return array(out, depth);
        if (c == '"') { std::string s; if (!string(s)) return false; out = Json(std::move(s)); return true; }
        if (literal("true")) { out = Json(true); return true; }
        if (literal("false")) { out = Json(false); return true; }
        if (literal("null")) { out = Json(); return true; }
        return number(out);
    }

    bool number(Json& out) {
        size_t start = pos_;
        if (pos_ < text_.size() && (text_[pos_] == '-' || text_[pos_] == '+')) ++pos_;
        while (pos_ < text_.size() && (std::isdigit(static_cast<unsigned char>(text_[pos_])) ||
                                       text_[pos_] == '.' || text_[pos_] == 'e' || text_[pos_] == 'E' ||
                                       text_[pos_] == '-' || text_[pos_] == '+'))
            ++pos_;
        if (pos_ == start) return fail("unexpected character in JSON");
        std::string digits(text_.substr(start, pos_ - start));
        char* end = nullptr;
        double v = std::strtod(digits.c_str(), &end);
        if (end != digits.c_str() + digits.size() || !std::isfinite(v)) return fail("bad number in JSON");
        out = Json(v);
        return true;
    }

    bool hex4(unsigned& v) {
        if (pos_ + 4 > text_.size()) return fail("short \\u escape");
        v = 0;
        for (int i = 0; i < 4; ++i) {
            char c = text_[pos_++];
            v <<= 4;
            if (c >= '0' && c <= '9') v |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f') v |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') v |= unsigned(c - 'A' + 10);
            else return fail("bad \\u escape");
        }
        return true;
    }

    static void appendUtf8(std::string& s, unsigned cp) {
        if (cp < 0x80) s += char(cp);
        else if (cp < 0x800) { s += char(0xC0 | (cp >> 6)); s += char(0x80 | (cp & 0x3F)); }
        else if (cp < 0x10000) {
            s += char(0xE0 | (cp >> 12)); s += char(0x80 | ((cp >> 6) & 0x3F)); s += char(0x80 | (cp & 0x3F));
        } else {
            s += char(0xF0 | (cp >> 18)); s += char(0x80 | ((cp >> 12) & 0x3F));
            s += char(0x80 | ((cp >> 6) & 0x3F)); s += char(0x80 | (cp & 0x3F));
        }
    }

    bool string(std::string& s) {
        ++pos_;  // opening quote
        while (pos_ < text_.size()) {
            char c = text_[pos_++];
            if (c == '"') return true;
            if (c != '\\') { s += c; continue; }
            if (pos_ >= text_.size()) break;
            char e = text_[pos_++];
            switch (e) {
                case '"': s += '"'; break;
                case '\\': s += '\\'; break;
                case '/': s += '/'; break;
                case 'b': s += '\b'; break;
                case 'f': s += '\f'; break;
                case 'n': s += '\n'; break;
                case 'r': s += '\r'; break;
                case 't': s += '\t'; break;
                case 'u': {
                    unsigned cp = 0;
                    if (!hex4(cp)) return false;
                    if (cp >= 0xD800 && cp < 0xDC00 && text_.substr(pos_, 2) == "\\u") {
                        pos_ += 2;
                        unsigned low = 0;
                        if (!hex4(low)) return false;
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    appendUtf8(s, cp);
                    break;
                }
                default: return fail("bad escape in JSON string");
            }
        }
        return fail("unterminated JSON string");
    }

    bool array(Json& out, int depth) {
        ++pos_;
        out = Json::array();
        skipBlanks();
        if (pos_ < text_.size() && text_[pos_] == ']') { ++pos_; return true; }
        for (;;) {
            Json item;
            if (!value(item, depth + 1)) return false;
            out.push(std::move(item));
            skipBlanks();
            if (pos_ >= text_.size()) return fail("unterminated JSON array");
            char c = text_[pos_++];
            if (c == ']') return true;
            if (c != ',') return fail("expected , or ] in JSON array");
        }
    }

    bool object(Json& out, int depth) {
        ++pos_;
        out = Json::object();
        skipBlanks();
        if (pos_ < text_.size() && text_[pos_] == '}') { ++pos_; return true; }
        for (;;) {
            skipBlanks();
            if (pos_ >= text_.size() || text_[pos_] != '"') return fail("expected a key in JSON object");
            std::string key;
            if (!string(key)) return false;
            skipBlanks();
            if (pos_ >= text_.size() || text_[pos_++] != ':') return fail("expected : in JSON object");
            Json item;
            if (!value(item, depth + 1)) return false;
            out.set(key, std::move(item));
            skipBlanks();
            if (pos_ >= text_.size()) return fail("unterminated JSON object");
            char c = text_[pos_++];
            if (c == '}') return true;
            if (c != ',') return fail("expected , or } in JSON object");
        }
    }

    std::string_view text_;
    size_t pos_ = 0;
    std::string error_;
};

}  // namespace

bool Json::parse(std::string_view text, Json& out, std::string& error) {
    Reader reader(text);
    return reader.document(out, error);
}

const Json* Json::find(std::string_view key) const {
    if (type_ != Type::Object) return nullptr;
    for (const auto& m : members_)
        if (m.first == key) return &m.second;
    return nullptr;
}

Json& Json::set(std::string_view key, Json value) {
    if (type_ != Type::Object) { *this = object(); }
    for (auto& m : members_)
        if (m.first == key) { m.second = std::move(value); return *this; }
    members_.emplace_back(std::string(key), std::move(value));
    return *this;
}

Json& Json::push(Json value) {
    if (type_ != Type::Array) { *this = array(); }
    items_.push_back(std::move(value));
    return *this;
}

void appendJsonString(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                // Bytes from the line need not be UTF-8: escape everything outside printable
                // ASCII as its Latin-1 code point so the line always parses.
                if (c < 0x20 || c >= 0x7F) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xF];
                } else {
                    out += char(c);
                }
        }
    }
    out += '"';
}

void Json::dumpTo(std::string& out) const {
    switch (type_) {
        case Type::Null: out += "null"; break;
        case Type::Bool: out += bool_ ? "true" : "false"; break;
        case Type::Number: {
            char buf[32];
            if (std::floor(number_) == number_ && std::fabs(number_) < 1e15)
                std::snprintf(buf, sizeof buf, "%.0f", number_);
            else if (std::fabs(number_) < 1e15) {
                std::snprintf(buf, sizeof buf, "%.6f", number_);
                std::string text(buf);
                while (!text.empty() && text.back() == '0') text.pop_back();
                if (!text.empty() && text.back() == '.') text.pop_back();
                out += text;
                break;
            } else
                std::snprintf(buf, sizeof buf, "%.17g", number_);
            out += buf;
            break;
        }
        case Type::String: appendJsonString(out, string_); break;
        case Type::Array:
            out += '[';
            for (size_t i = 0; i < items_.size(); ++i) {
                if (i) out += ',';
                items_[i].dumpTo(out);
            }
            out += ']';
            break;
        case Type::Object:
            out += '{';
            for (size_t i = 0; i < members_.size(); ++i) {
                if (i) out += ", ";
                appendJsonString(out, members_[i].first);
                out += ": ";
                members_[i].second.dumpTo(out);
            }
            out += '}';
            break;
    }
}

std::string Json::dump() const {
    std::string out;
    dumpTo(out);
    return out;
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
        if (text[i] == ' ' || text[i] == ':' || text[i] == '-') { ++i; continue; }
        if (i + 1 >= text.size()) return false;
        int hi = digit(text[i]), lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(uint8_t(hi * 16 + lo));
        i += 2;
    }
    return true;
}

}  // namespace sim
