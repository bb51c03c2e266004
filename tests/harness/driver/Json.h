// A minimal JSON object writer for the driver's one-line replies; texts from windows are
// ANSI, so bytes above 0x7F are written as \u00XX (their Latin-1 reading).
#pragma once
#include <cstdio>
#include <string>
#include <vector>

class JsonObject {
public:
    JsonObject& Add(const char* key, const std::string& value) {
        Key(key);
        Quote(value);
        return *this;
    }
    JsonObject& Add(const char* key, const char* value) { return Add(key, std::string(value)); }
    JsonObject& Add(const char* key, bool value) {
        Key(key);
        body_ += value ? "true" : "false";
        return *this;
    }
    JsonObject& Add(const char* key, long long value) {
        Key(key);
        body_ += std::to_string(value);
        return *this;
    }
    JsonObject& Add(const char* key, int value) { return Add(key, static_cast<long long>(value)); }
    JsonObject& Add(const char* key, unsigned long value) { return Add(key, static_cast<long long>(value)); }
    JsonObject& Add(const char* key, const std::vector<std::string>& values) {
        Key(key);
        body_ += '[';
        for (size_t i = 0; i < values.size(); ++i) {
            if (i) body_ += ',';
            Quote(values[i]);
        }
        body_ += ']';
        return *this;
    }
    JsonObject& AddObjects(const char* key, const std::vector<JsonObject>& values) {
        Key(key);
        body_ += '[';
        for (size_t i = 0; i < values.size(); ++i) {
            if (i) body_ += ',';
            body_ += values[i].Text();
        }
        body_ += ']';
        return *this;
    }
    JsonObject& AddRaw(const char* key, const std::string& json) {
        Key(key);
        body_ += json;
        return *this;
    }
    std::string Text() const { return "{" + body_ + "}"; }

private:
    void Key(const char* key) {
        if (!body_.empty()) body_ += ',';
        Quote(key);
        body_ += ':';
    }
    void Quote(const std::string& text) {
        body_ += '"';
        for (unsigned char c : text) {
            if (c == '"' || c == '\\') {
                body_ += '\\';
                body_ += static_cast<char>(c);
            } else if (c < 0x20 || c >= 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                body_ += escaped;
            } else {
                body_ += static_cast<char>(c);
            }
        }
        body_ += '"';
    }
    std::string body_;
};
