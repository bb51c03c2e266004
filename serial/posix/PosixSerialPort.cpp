// The serial port on Linux and other POSIX systems: termios in raw mode, poll() for every
// wait, so no call blocks past its deadline. Exported only through OpenSerialPort.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "serial/NetworkPortName.h"
#include "serial/NetworkSerialPort.h"
#include "serial/SerialPort.h"
#include "serial/posix/PosixErrors.h"

namespace serial {

namespace {

// How long a speed change waits for bytes already queued to leave at the old speed: a
// 4 KiB driver buffer drains in about 1.1 s at 38 400 baud.
constexpr int kDrainBoundMs = 2000;
constexpr int kDrainPollMs = 5;
constexpr char kNotADeviceText[] = "a file, not a device";
constexpr const char* kPseudoTerminalPrefix = "/dev/pts/";

struct SpeedEntry {
    uint32_t baud;
    speed_t code;
};
// The speeds a port takes, named where the unit's line gives them a name.
constexpr SpeedEntry kSpeeds[] = {
    {9600, B9600},
    {19200, B19200},
    {kLinkBaudRate, B38400},
    {kSlowDownloadBaud, B57600},
    {kFastDownloadBaud, B115200},
    {230400, B230400},
};
constexpr speed_t kNoSpeedCode = B0;

constexpr speed_t SpeedCodeOf(uint32_t baud) {
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.baud == baud) return entry.code;
    }
    return kNoSpeedCode;
}
constexpr speed_t kLinkSpeedCode = SpeedCodeOf(kLinkBaudRate);
static_assert(kLinkSpeedCode != kNoSpeedCode, "the packet link's speed is in the table");

uint64_t SteadyMs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

int RemainingMs(uint64_t deadline) {
    uint64_t now = SteadyMs();
    return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

// A pseudo-terminal has no parity of its own: the kernel clears PARENB on every change, so
// on one the parity is confirmed by PARODD alone.
bool IsPseudoTerminal(int fd) {
    char path[128] = {};
    return ttyname_r(fd, path, sizeof path) == 0 &&
           std::strncmp(path, kPseudoTerminalPrefix, std::strlen(kPseudoTerminalPrefix)) == 0;
}

PortStatus Fail(PortError error, const std::string& what) { return PortStatus{error, what}; }

class PosixSerialPort final : public SerialPort {
public:
    PosixSerialPort(std::string name, int fd, const termios& saved)
        : name_(std::move(name)), fd_(fd), saved_(saved), pseudo_(IsPseudoTerminal(fd)) {}
    ~PosixSerialPort() override { Close(); }

    const std::string& Name() const override { return name_; }

    PortStatus Configure() {
        termios settings{};
        if (tcgetattr(fd_, &settings) != 0) return ErrnoStatus(errno, "reading the line settings");
        cfmakeraw(&settings);
        settings.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
        settings.c_cflag &= ~(CSIZE | CSTOPB | CRTSCTS);
        settings.c_cflag |= CS8 | PARENB | PARODD | CREAD | CLOCAL;
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 0;
        cfsetispeed(&settings, kLinkSpeedCode);
        cfsetospeed(&settings, kLinkSpeedCode);
        if (tcsetattr(fd_, TCSANOW, &settings) != 0) return ErrnoStatus(errno, "setting the line");
        PortStatus confirmed = ConfirmSettings(kLinkSpeedCode);
        if (!confirmed.Ok()) return confirmed;
        // DTR and RTS on: the unit takes DTR as a PC on the line. An adapter without modem
        // lines refuses this; the download still works there, so the refusal is not fatal.
        int lines = TIOCM_DTR | TIOCM_RTS;
        (void)ioctl(fd_, TIOCMBIS, &lines);
        tcflush(fd_, TCIOFLUSH);
        return {};
    }

    PortStatus SetBaudRate(uint32_t baudRate) override {
        if (fd_ < 0) return Fail(PortError::Io, "the port is closed");
        const speed_t code = SpeedCodeOf(baudRate);
        if (code == kNoSpeedCode) return Fail(PortError::Io, "unsupported speed " + std::to_string(baudRate));
        WaitForQueueToDrain();
        termios settings{};
        if (tcgetattr(fd_, &settings) != 0) return ErrnoStatus(errno, "reading the line settings");
        cfsetispeed(&settings, code);
        cfsetospeed(&settings, code);
        if (tcsetattr(fd_, TCSANOW, &settings) != 0) return ErrnoStatus(errno, "changing the speed");
        return ConfirmSettings(code);
    }

    PortStatus SetLine(const LineFraming& line) override {
        if (fd_ < 0) return Fail(PortError::Io, "the port is closed");
        const speed_t code = SpeedCodeOf(line.baud);
        if (code == kNoSpeedCode) return Fail(PortError::Io, "unsupported speed " + std::to_string(line.baud));
        static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
        if (line.dataBits < 5 || line.dataBits > 8 || line.stopBits < 1 || line.stopBits > 2) {
            return Fail(PortError::Io, "unsupported framing");
        }
        termios settings{};
        if (tcgetattr(fd_, &settings) != 0) return ErrnoStatus(errno, "reading the line settings");
        settings.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD);
        settings.c_cflag |= kSizes[line.dataBits - 5];
        if (line.stopBits == 2) settings.c_cflag |= CSTOPB;
        if (line.parity != Parity::None) settings.c_cflag |= PARENB;
        if (line.parity == Parity::Odd) settings.c_cflag |= PARODD;
        cfsetispeed(&settings, code);
        cfsetospeed(&settings, code);
        if (tcsetattr(fd_, TCSANOW, &settings) != 0) return ErrnoStatus(errno, "setting the line");
        termios back{};
        if (tcgetattr(fd_, &back) != 0) return ErrnoStatus(errno, "reading the line settings back");
        // A pseudo-terminal keeps 8 bits and no parity whatever is asked: only the speed counts there.
        if (cfgetispeed(&back) != code || (!pseudo_ && (back.c_cflag & CSIZE) != kSizes[line.dataBits - 5])) {
            return Fail(PortError::Io, "the driver did not take the line settings");
        }
        return {};
    }

    PortStatus Write(const uint8_t* data, size_t size, uint32_t timeoutMs, size_t* written) override {
        *written = 0;
        if (fd_ < 0) return Fail(PortError::Io, "the port is closed");
        uint64_t deadline = SteadyMs() + timeoutMs;
        while (*written < size) {
            ssize_t n = ::write(fd_, data + *written, size - *written);
            if (n > 0) {
                *written += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return ErrnoStatus(errno, "writing");
            PortStatus waited = WaitFor(POLLOUT, RemainingMs(deadline));
            if (!waited.Ok()) return waited;
        }
        return {};
    }

    PortStatus Drain(uint32_t timeoutMs) override {
        if (fd_ < 0) return Fail(PortError::Io, "the port is closed");
        PortStatus emptied = WaitForEmptyQueue(SteadyMs() + timeoutMs);
        if (!emptied.Ok()) return emptied;
        // The driver's queue is empty; this waits only for the bytes in the transmitter.
        if (tcdrain(fd_) != 0) return ErrnoStatus(errno, "waiting for the line");
        return {};
    }

    PortStatus Read(uint8_t* buffer, size_t size, uint32_t timeoutMs, size_t* count) override {
        *count = 0;
        if (fd_ < 0) return Fail(PortError::Io, "the port is closed");
        uint64_t deadline = SteadyMs() + timeoutMs;
        for (;;) {
            ssize_t n = ::read(fd_, buffer, size);
            if (n > 0) {
                *count = static_cast<size_t>(n);
                return {};
            }
            // In raw mode with no minimum count, 0 means nothing there, as EAGAIN does; a
            // hung-up line also reads 0, and the poll below tells it apart.
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return ErrnoStatus(errno, "reading");
            int remaining = RemainingMs(deadline);
            if (remaining == 0) return {};
            PortStatus waited = WaitFor(POLLIN, remaining);
            if (waited.error == PortError::TimedOut) return {};  // nothing came: not a failure
            if (!waited.Ok()) return waited;
        }
    }

    PortStatus ReadCts(bool* on) override {
        *on = false;
        if (fd_ < 0) return Fail(PortError::Io, "the port is closed");
        int lines = 0;
        if (ioctl(fd_, TIOCMGET, &lines) != 0) return ErrnoStatus(errno, "reading the modem lines");
        *on = (lines & TIOCM_CTS) != 0;
        return {};
    }

    void Close() override {
        if (fd_ < 0) return;
        // Bytes still queued must leave at this line's settings, not at the restored ones.
        WaitForQueueToDrain();
        // The settings the port had before, so that the next program finds them unchanged.
        (void)tcsetattr(fd_, TCSANOW, &saved_);
        (void)ioctl(fd_, TIOCNXCL);
        ::close(fd_);  // also drops the flock
        fd_ = -1;
    }

private:
    PortStatus ConfirmSettings(speed_t code) {
        termios back{};
        if (tcgetattr(fd_, &back) != 0) return ErrnoStatus(errno, "reading the line settings back");
        bool parityOn = pseudo_ || (back.c_cflag & PARENB) != 0;
        bool ok = cfgetospeed(&back) == code && (back.c_cflag & CSIZE) == CS8 && (back.c_cflag & PARODD) != 0 &&
                  parityOn && (back.c_cflag & CSTOPB) == 0 && (back.c_cflag & CRTSCTS) == 0;
        if (!ok) {
            return Fail(PortError::Io,
                        "the driver did not take the line settings (speed, 8 data bits, odd parity, 1 stop bit)");
        }
        return {};
    }

    // One poll with the port's own classification: a hang-up or error on the line is a
    // vanished device, never a timeout.
    PortStatus WaitFor(short events, int timeoutMs) {
        pollfd entry{fd_, events, 0};
        for (;;) {
            int ready = ::poll(&entry, 1, timeoutMs);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) return ErrnoStatus(errno, "waiting on the port");
            if (ready == 0) return Fail(PortError::TimedOut, "timed out");
            if (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) return Fail(PortError::Gone, "the device hung up");
            return {};
        }
    }

    // A vanished device while nothing else would notice it.
    PortStatus CheckHangUp() {
        pollfd entry{fd_, 0, 0};
        if (::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return Fail(PortError::Gone, "the device hung up");
        }
        return {};
    }

    // Watches the driver's output queue until it is empty or the deadline passes (tcdrain
    // alone has no bound): Ok, TimedOut with what is left, or the device's failure.
    PortStatus WaitForEmptyQueue(uint64_t deadline) {
        for (;;) {
            int queued = 0;
            if (ioctl(fd_, TIOCOUTQ, &queued) != 0) return ErrnoStatus(errno, "reading the output queue");
            if (queued <= 0) return {};
            if (RemainingMs(deadline) == 0) {
                return Fail(PortError::TimedOut, std::to_string(queued) + " bytes still waiting for the line");
            }
            PortStatus hungUp = CheckHangUp();
            if (!hungUp.Ok()) return hungUp;
            ::poll(nullptr, 0, kDrainPollMs);
        }
    }

    // Before a speed change or the close: queued bytes leave at the present settings.
    void WaitForQueueToDrain() { static_cast<void>(WaitForEmptyQueue(SteadyMs() + kDrainBoundMs)); }

    std::string name_;
    int fd_;
    termios saved_;
    bool pseudo_;
};

}  // namespace

std::unique_ptr<SerialPort> OpenSerialPort(const std::string& name, PortStatus* status) {
    if (IsNetworkPortName(name)) return OpenNetworkPort(name, ConnectTcp, status);
    // A folder or a plain file is named for what it is, before an open could say something
    // less telling (no permission to write it, or no terminal controls on it).
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0 && !S_ISCHR(info.st_mode)) {
        *status = S_ISDIR(info.st_mode) ? OpenErrnoStatus(EISDIR) : PortStatus{PortError::NotSerial, kNotADeviceText};
        return nullptr;
    }
    int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *status = OpenErrnoStatus(errno);
        return nullptr;
    }
    // Exclusive twice over: TIOCEXCL keeps out other opens (except root's), flock keeps out
    // every program that also locks, root included.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        int error = errno;
        ::close(fd);
        *status = OpenErrnoStatus(error);  // a lock held elsewhere (EWOULDBLOCK) reads as busy
        return nullptr;
    }
    termios saved{};
    if (tcgetattr(fd, &saved) != 0) {
        int error = errno;
        ::close(fd);
        *status = OpenErrnoStatus(error);
        return nullptr;
    }
    auto port = std::make_unique<PosixSerialPort>(name, fd, saved);
    *status = port->Configure();
    if (!status->Ok()) return nullptr;
    return port;
}

}  // namespace serial
