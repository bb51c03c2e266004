// Content lookup, the built-in table and files, and storing what the PC sends.
#include "sim/Content.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/Sha256.h"
#include "sim/WireFrame.h"

namespace sim {
namespace {

constexpr size_t kKeptReceived = 1000;
const char* const kAnyProgram = "*";

std::string kindStem(int kind) {
    switch (kind) {
        case kKindBitmap: return "bitmap";
        case kKindSettings: return "settings";
        case kKindProgram: return "program";
        case kKindBinary: return "binary";
        default: return "kind" + std::to_string(kind);
    }
}

}  // namespace

Json ReceivedItem::toJson() const {
    Json j = Json::object();
    j["what"] = what;
    if (what == "file") j["kind"] = kind;
    j["path"] = path;
    if (!storeError.empty()) j["store_error"] = storeError;
    j["size"] = size;
    j["sha256"] = sha256;
    j["sum"] = sum;
    if (announced) {
        j["announced_sum"] = announcedSum;
        j["sum_matches"] = announcedSum == sum;
        if (announcedCount >= 0) {
            j["announced_count"] = announcedCount;
            j["count_matches"] = announcedCount == static_cast<long long>(size);
        }
    }
    j["t_ms"] = atMs;
    return j;
}

std::vector<std::string> builtinNlecLines() {
    return {"NLEC 2 AXIS TABLE", "AXIS=1", "POINTS=4", "0=0.0000", "1000=1000.0021", "2000=1999.9987",
            "3000=3000.0034",    "AXIS=2", "POINTS=2", "0=0.0000", "1000=999.9992"};
}

std::vector<uint8_t> builtinFile(int kind) {
    // Deterministic bytes of every value, long enough to take several packets.
    size_t size = kind == kKindProgram ? 1500 : 700;
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t((i * 7 + unsigned(kind)) & 0xFF);
    return bytes;
}

void Content::loadBuiltins() {
    nlecPath_.clear();
    nlecBuiltin_ = true;
    files_[{kKindSettings, ""}] = "";
    files_[{kKindProgram, kAnyProgram}] = "";
}

void Content::clear() {
    nlecPath_.clear();
    nlecBuiltin_ = false;
    files_.clear();
}

void Content::setFile(int kind, const std::string& name, const std::string& path) {
    files_[{kind, kind == kKindProgram ? name : std::string()}] = path;
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes.clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        if (bytes.size() + n > kMaxContentBytes) {
            std::fclose(f);
            error = path + " is larger than the unit can hold";
            return false;
        }
        bytes.insert(bytes.end(), buf, buf + n);
    }
    bool failed = std::ferror(f);
    std::fclose(f);
    if (failed) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

bool Content::nlecLines(std::vector<std::string>& lines, std::string& error) const {
    lines.clear();
    if (nlecBuiltin_) {
        lines = builtinNlecLines();
        return true;
    }
    if (nlecPath_.empty()) {
        error = "no NLEC table loaded";
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!readWholeFile(nlecPath_, bytes, error)) return false;
    std::string line;
    auto flush = [&] {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        for (size_t at = 0; at < line.size() || at == 0; at += kMaxPayloadBytes) {
            lines.push_back(line.substr(at, kMaxPayloadBytes));
            if (line.size() <= kMaxPayloadBytes) break;
        }
        line.clear();
    };
    for (uint8_t b : bytes) {
        if (b == '\n') flush();
        else line += char(b);
    }
    if (!line.empty()) flush();
    return true;
}

bool Content::file(int kind, const std::string& name, std::vector<uint8_t>& bytes, std::string& error) const {
    auto it = files_.find({kind, kind == kKindProgram ? name : std::string()});
    if (it == files_.end() && kind == kKindProgram) it = files_.find({kind, kAnyProgram});
    if (it == files_.end()) {
        error = "no " + kindStem(kind) + " file" + (kind == kKindProgram ? " named " + name : std::string());
        return false;
    }
    if (it->second.empty()) {
        bytes = builtinFile(kind);
        return true;
    }
    return readWholeFile(it->second, bytes, error);
}

const ReceivedItem& Content::store(ReceivedItem item, const std::vector<uint8_t>& bytes) {
    item.size = bytes.size();
    item.sha256 = sha256Hex(bytes.data(), bytes.size());
    uint16_t sum = 0;
    for (uint8_t b : bytes) sum = uint16_t(sum + b);
    item.sum = sum;
    ++stored_;
    char number[16];
    std::snprintf(number, sizeof number, "%04llu", static_cast<unsigned long long>(stored_));
    std::string name =
        item.what == "nlec" ? "nlec-" + std::string(number) + ".txt" : kindStem(item.kind) + "-" + number + ".bin";
    if (storeDir_.empty()) {
        item.storeError = "no store folder";
    } else {
        std::string path = storeDir_ + "/" + name;
        std::string tmp = path + ".part";
        FILE* f = std::fopen(tmp.c_str(), "wb");
        // An empty file is stored too; fwrite must not be handed a null buffer for it.
        bool ok = f && (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
        if (f && std::fclose(f) != 0) ok = false;
        if (ok && std::rename(tmp.c_str(), path.c_str()) == 0) {
            item.path = path;
        } else {
            item.storeError = "cannot write " + path + ": " + std::strerror(errno);
            std::remove(tmp.c_str());
        }
    }
    received_.push_back(std::move(item));
    while (received_.size() > kKeptReceived) received_.pop_front();
    return received_.back();
}

Json Content::describe() const {
    Json j = Json::object();
    j["nlec_table"] = nlecBuiltin_ ? Json("(built in)") : nlecPath_.empty() ? Json() : Json(nlecPath_);
    Json files = Json::array();
    for (const auto& [key, path] : files_) {
        Json f = Json::object();
        f["kind"] = key.first;
        if (key.first == kKindProgram) f["name"] = key.second;
        f["path"] = path.empty() ? std::string("(built in)") : path;
        files.push_back(f);
    }
    j["files"] = files;
    j["store"] = storeDir_;
    return j;
}

}  // namespace sim
