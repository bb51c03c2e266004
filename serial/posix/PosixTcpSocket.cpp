// serial::ConnectTcp on POSIX: a non-blocking socket, connect bounded with poll(), short
// keep-alive times and a bound on unacknowledged data where the system has them.
#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/Clock.h"
#include "serial/TcpSocket.h"
#include "serial/posix/PosixErrors.h"

namespace serial {

namespace {

constexpr int kNoFlags = 0;

uint64_t SteadyMs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

PortStatus LostStatus(int error) {
    return SystemStatus(PortError::Gone, error, "the connection to the server is lost");
}

class PosixTcpSocket final : public TcpSocket {
public:
    explicit PosixTcpSocket(int fd) : fd_(fd) {}
    ~PosixTcpSocket() override { ::close(fd_); }

    PortStatus Send(const uint8_t* data, size_t size, size_t* sent) override {
        *sent = 0;
        for (;;) {
            ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
            if (n >= 0) {
                *sent = static_cast<size_t>(n);
                return {};
            }
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return {};
            return LostStatus(errno);
        }
    }

    PortStatus Receive(uint8_t* buffer, size_t size, size_t* count, bool* closed) override {
        *count = 0;
        *closed = false;
        for (;;) {
            ssize_t n = ::recv(fd_, buffer, size, kNoFlags);
            if (n > 0) {
                *count = static_cast<size_t>(n);
                return {};
            }
            if (n == 0) {
                *closed = true;
                return {};
            }
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return {};
            return LostStatus(errno);
        }
    }

    PortStatus Wait(uint32_t timeoutMs, bool forWrite) override {
        pollfd entry{fd_, static_cast<short>(POLLIN | (forWrite ? POLLOUT : 0)), 0};
        for (;;) {
            int ready = ::poll(&entry, 1, static_cast<int>(timeoutMs));
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) return LostStatus(errno);
            return {};  // a hang-up or error shows in the next receive or send
        }
    }

private:
    int fd_;
};

void SetOption(int fd, int level, int name, int value) {
    (void)::setsockopt(fd, level, name, &value, sizeof value);  // best effort: each is a refinement
}

void TuneSocket(int fd) {
    SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    SetOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
#ifdef TCP_KEEPIDLE
    SetOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, static_cast<int>(kKeepAliveIdleSeconds));
    SetOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, static_cast<int>(kKeepAliveIntervalSeconds));
    SetOption(fd, IPPROTO_TCP, TCP_KEEPCNT, static_cast<int>(kKeepAliveProbes));
#endif
#ifdef TCP_USER_TIMEOUT
    SetOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(kUnacknowledgedBoundMs));
#endif
}

// One address: Ok with *fd connected, or the reason it failed.
PortStatus ConnectOne(const addrinfo& address, uint64_t deadline, int* fd) {
    int s = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
    if (s < 0) return SystemStatus(PortError::Io, errno);
    TuneSocket(s);
    int error = 0;
    if (::connect(s, address.ai_addr, address.ai_addrlen) != 0) {
        error = errno;
        while (error == EINPROGRESS || error == EINTR) {
            uint64_t now = SteadyMs();
            if (now >= deadline) break;
            pollfd entry{s, POLLOUT, 0};
            int ready = ::poll(&entry, 1, static_cast<int>(deadline - now));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) break;
            socklen_t length = sizeof error;
            if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
            break;
        }
    }
    if (error == 0) {
        *fd = s;
        return {};
    }
    ::close(s);
    if (error == EINPROGRESS || error == EINTR) return {PortError::TimedOut, ""};
    if (error == ECONNREFUSED) return {PortError::NoSuchPort, "connection refused"};
    return SystemStatus(PortError::Io, error);
}

}  // namespace

std::unique_ptr<TcpSocket> ConnectTcp(const std::string& host, const std::string& port, PortStatus* status) {
    const std::string where = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + port;
    const uint64_t deadline = SteadyMs() + kConnectBoundMs;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int resolved = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (resolved != 0) {
        *status = {PortError::NoSuchPort, "cannot resolve " + host + ": " + ::gai_strerror(resolved)};
        return nullptr;
    }
    PortStatus last{PortError::TimedOut, ""};
    int fd = -1;
    for (addrinfo* address = found; address != nullptr && fd < 0 && SteadyMs() < deadline; address = address->ai_next) {
        last = ConnectOne(*address, deadline, &fd);
    }
    ::freeaddrinfo(found);
    if (fd >= 0) {
        *status = {};
        return std::make_unique<PosixTcpSocket>(fd);
    }
    if (last.error == PortError::TimedOut) {
        last.text =
            "no answer from " + where + " within " + std::to_string(kConnectBoundMs / common::kMsPerSecond) + " s";
    } else {
        last.text = where + ": " + last.text;
    }
    *status = last;
    return nullptr;
}

}  // namespace serial
