// What the unit holds: the NLEC table and the files the PC may fetch (taken from files the
// operator names, read afresh for each request), and the files and tables the PC sends,
// stored byte for byte in the store folder with their sums and hashes.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "sim/Json.h"

namespace sim {

constexpr int kKindBinary = 9;
constexpr int kKindBitmap = 24;
constexpr int kKindSettings = 25;
constexpr int kKindProgram = 26;
constexpr size_t kMaxContentBytes = 64u << 20;  // larger than any file the unit holds

// A table or file that arrived from the PC.
struct ReceivedItem {
    std::string what;  // "nlec" or "file"
    int kind = 0;      // file kind; 0 for a table
    std::string path;  // where it was stored ("" when it could not be)
    std::string storeError;
    uint64_t size = 0;
    std::string sha256;
    uint16_t sum = 0;
    bool announced = false;  // the PC gave a sum (and, for files, a count) up front
    uint16_t announcedSum = 0;
    long long announcedCount = -1;
    uint64_t atMs = 0;

    Json toJson() const;
};

class Content {
public:
    explicit Content(std::string storeDir = "") : storeDir_(std::move(storeDir)) {}

    // The built-in table and files, so a unit started without any still answers.
    void loadBuiltins();
    void clear();

    void setNlecTable(const std::string& path) {
        nlecPath_ = path;
        nlecBuiltin_ = false;
    }
    // name is the program name for kind 26 ("*" for any name); ignored for other kinds.
    void setFile(int kind, const std::string& name, const std::string& path);
    void setStoreDir(const std::string& dir) { storeDir_ = dir; }
    const std::string& storeDir() const { return storeDir_; }

    // The table's lines without their line ends ("\n" or "\r\n"); a line longer than a
    // payload is served in pieces.
    bool nlecLines(std::vector<std::string>& lines, std::string& error) const;
    bool file(int kind, const std::string& name, std::vector<uint8_t>& bytes, std::string& error) const;

    // Stores what arrived and records it; returns the record.
    const ReceivedItem& store(ReceivedItem item, const std::vector<uint8_t>& bytes);

    const std::deque<ReceivedItem>& received() const { return received_; }
    Json describe() const;

private:
    std::string nlecPath_;
    bool nlecBuiltin_ = false;
    std::map<std::pair<int, std::string>, std::string> files_;  // (kind, name) -> path, "" = built in
    std::string storeDir_;
    std::deque<ReceivedItem> received_;
    uint64_t stored_ = 0;
};

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// The built-in contents, also used by tests.
std::vector<std::string> builtinNlecLines();
std::vector<uint8_t> builtinFile(int kind);

}  // namespace sim
