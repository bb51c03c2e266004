// The unit's end of the serial cable: a pseudo-terminal pair whose slave the PC opens through
// a stable symlink. The unit reads and writes the master and reads the PC's line settings
// from it; it keeps the slave open itself so the pair never hangs up between PC sessions.
#pragma once

#include <cstddef>
#include <string>

#include "sim/LineSettings.h"

namespace sim {

class PtyPort {
public:
    PtyPort() = default;
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // Opens the pair, puts the slave in raw mode, and points linkPath at it (replacing an
    // existing link in one step).
    bool open(const std::string& linkPath, std::string& error);
    void close();

    int masterFd() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    const std::string& linkPath() const { return linkPath_; }

    // Opens the unit's own hold on the slave again (after the PC's side hung it up).
    bool reopenSlave();
    // The settings the PC has set on its side now.
    bool readSettings(LineSettings& out) const;
    // Bytes the PC has written that the unit has not read yet.
    size_t queuedFromPc() const;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string linkPath_;
};

}  // namespace sim
