// A small JSON value for the simulator's control channel and event log: one request or
// event per line, so only compact single-line output is written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sim {

class Json {
public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    Json() = default;
    Json(std::nullptr_t) {}
    Json(bool b) : type_(Type::Bool), bool_(b) {}
    Json(int v) : type_(Type::Number), number_(v) {}
    Json(unsigned v) : type_(Type::Number), number_(v) {}
    Json(long v) : type_(Type::Number), number_(static_cast<double>(v)) {}
    Json(unsigned long v) : type_(Type::Number), number_(static_cast<double>(v)) {}
    Json(long long v) : type_(Type::Number), number_(static_cast<double>(v)) {}
    Json(unsigned long long v) : type_(Type::Number), number_(static_cast<double>(v)) {}
    Json(double v) : type_(Type::Number), number_(v) {}
    Json(const char* s) : type_(Type::String), string_(s) {}
    Json(std::string s) : type_(Type::String), string_(std::move(s)) {}
    Json(std::string_view s) : type_(Type::String), string_(s) {}

    static Json object() { Json j; j.type_ = Type::Object; return j; }
    static Json array() { Json j; j.type_ = Type::Array; return j; }

    // Parses one JSON text; on failure returns false and says why in *error.
    static bool parse(std::string_view text, Json& out, std::string& error);

    Type type() const { return type_; }
    bool isNull() const { return type_ == Type::Null; }
    bool isBool() const { return type_ == Type::Bool; }
    bool isNumber() const { return type_ == Type::Number; }
    bool isString() const { return type_ == Type::String; }
    bool isArray() const { return type_ == Type::Array; }
    bool isObject() const { return type_ == Type::Object; }

    bool asBool() const { return bool_; }
    double asNumber() const { return number_; }
    const std::string& asString() const { return string_; }
    const std::vector<Json>& items() const { return items_; }
    const std::vector<std::pair<std::string, Json>>& members() const { return members_; }

    // Object access. find() returns null when the key is absent or this is no object.
    const Json* find(std::string_view key) const;
    bool has(std::string_view key) const { return find(key) != nullptr; }
    Json& set(std::string_view key, Json value);
    Json& push(Json value);

    std::string dump() const;

private:
    void dumpTo(std::string& out) const;

    Type type_ = Type::Null;
    bool bool_ = false;
    double number_ = 0;
    std::string string_;
    std::vector<Json> items_;
    std::vector<std::pair<std::string, Json>> members_;
};

// Appends text as a quoted JSON string (control characters and non-ASCII bytes escaped, so
// a line stays one line whatever the unit or the PC sent).
void appendJsonString(std::string& out, std::string_view text);

std::string toHex(const uint8_t* data, size_t size);
inline std::string toHex(const std::vector<uint8_t>& bytes) { return toHex(bytes.data(), bytes.size()); }
// Accepts hex digits with optional blanks between bytes ("7e 7e 48" or "7e7e48").
bool fromHex(std::string_view text, std::vector<uint8_t>& out);

}  // namespace sim
