// posix_openpt, raw mode, the atomic symlink swap, and termios speeds as numbers.
#include "sim/posix/PtyPort.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

// Until the PC configures the port, the slave is left at a speed the unit never uses, so a
// program that forgets to set up its port is not mistaken for one that did.
constexpr speed_t kUnconfiguredSpeed = B9600;

uint32_t speedToBaud(speed_t speed) {
    switch (speed) {
        case B0: return 0;
        case B300: return 300;
        case B1200: return 1200;
        case B2400: return 2400;
        case B4800: return 4800;
        case B9600: return 9600;
        case B19200: return 19200;
        case B38400: return 38400;
        case B57600: return 57600;
        case B115200: return 115200;
        case B230400: return 230400;
        case B460800: return 460800;
        case B921600: return 921600;
        default: return 1;  // a speed the unit never uses
    }
}

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

PtyPort::~PtyPort() { close(); }

bool PtyPort::open(const std::string& linkPath, std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0) {
        error = errnoText("posix_openpt");
        return false;
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = errnoText("grantpt/unlockpt");
        return false;
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        error = errnoText("ptsname");
        return false;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave_ < 0) {
        error = errnoText("open " + slavePath_);
        return false;
    }
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0) {
        error = errnoText("tcgetattr");
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(PARODD | CSTOPB);
    cfsetispeed(&tio, kUnconfiguredSpeed);
    cfsetospeed(&tio, kUnconfiguredSpeed);
    if (tcsetattr(slave_, TCSANOW, &tio) != 0) {
        error = errnoText("tcsetattr");
        return false;
    }

    std::string tmp = linkPath + ".new." + std::to_string(getpid());
    ::unlink(tmp.c_str());
    if (::symlink(slavePath_.c_str(), tmp.c_str()) != 0) {
        error = errnoText("symlink " + tmp);
        return false;
    }
    if (::rename(tmp.c_str(), linkPath.c_str()) != 0) {
        error = errnoText("rename to " + linkPath);
        ::unlink(tmp.c_str());
        return false;
    }
    linkPath_ = linkPath;
    return true;
}

void PtyPort::close() {
    if (!linkPath_.empty()) {
        // Remove the link only if it still points at this unit's port.
        char target[256];
        ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (n > 0) {
            target[n] = '\0';
            if (slavePath_ == target) ::unlink(linkPath_.c_str());
        }
        linkPath_.clear();
    }
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = master_ = -1;
}

bool PtyPort::reopenSlave() {
    if (slave_ >= 0) ::close(slave_);
    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    return slave_ >= 0;
}

bool PtyPort::readSettings(LineSettings& out) const {
    termios tio{};
    if (tcgetattr(master_, &tio) != 0) return false;
    out.baud = speedToBaud(cfgetospeed(&tio));
    // The pty clears PARENB on every change, so odd parity shows as PARODD alone.
    out.parityOdd = (tio.c_cflag & PARODD) != 0;
    out.parityEven = (tio.c_cflag & PARENB) != 0 && !out.parityOdd;
    out.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    switch (tio.c_cflag & CSIZE) {
        case CS5: out.dataBits = 5; break;
        case CS6: out.dataBits = 6; break;
        case CS7: out.dataBits = 7; break;
        default: out.dataBits = 8; break;
    }
    return true;
}

size_t PtyPort::queuedFromPc() const {
    int n = 0;
    if (ioctl(master_, FIONREAD, &n) != 0 || n < 0) return 0;
    return size_t(n);
}

}  // namespace sim
