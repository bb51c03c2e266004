// The modem lines between unit and PC, as files shared with the harness's modem-line library
// inside Wine: the unit writes its lines (CTS, DSR, CAR, RI) to PATH as decimal TIOCM bits,
// and reads the PC's DTR and RTS from PATH.pc.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

class ModemFile {
public:
    explicit ModemFile(std::string path = "") : path_(std::move(path)) {}

    bool enabled() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    // Writes the bits if they changed (temp file, then rename, so a reader never sees half).
    bool write(uint32_t bits, std::string& error);
    // The PC's bits, or -1 when the file is absent or unreadable.
    int readPc() const;

private:
    std::string path_;
    bool written_ = false;
    uint32_t last_ = 0;
};

}  // namespace sim
