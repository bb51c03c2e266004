// Accepting, line splitting and non-blocking replies on the control socket.
#include "sim/posix/ControlServer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {
namespace {

constexpr size_t kMaxRequestBytes = 1u << 20;        // a longer line is not a request
constexpr size_t kMaxUnreadReplyBytes = 256u << 20;  // a client that never reads is let go
constexpr size_t kMaxClients = 32;
constexpr int kListenBacklog = 8;

}  // namespace

ControlServer::~ControlServer() { close(); }

bool ControlServer::open(const std::string& path, std::string& error) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) {
        error = "control socket path too long: " + path;
        return false;
    }
    listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listen_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ::unlink(path.c_str());
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_, kListenBacklog) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        ::close(listen_);
        listen_ = -1;
        return false;
    }
    path_ = path;
    return true;
}

void ControlServer::close() {
    for (auto& c : clients_) ::close(c.fd);
    clients_.clear();
    if (listen_ >= 0) {
        ::close(listen_);
        listen_ = -1;
        ::unlink(path_.c_str());
    }
}

size_t ControlServer::addPollFds(std::vector<pollfd>& fds) const {
    size_t first = fds.size();
    if (listen_ < 0) return first;
    fds.push_back({listen_, POLLIN, 0});
    for (const auto& c : clients_) {
        short events = c.closing ? 0 : POLLIN;
        if (!c.out.empty()) events |= POLLOUT;
        fds.push_back({c.fd, events, 0});
    }
    return first;
}

void ControlServer::acceptAll() {
    for (;;) {
        int fd = ::accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        if (clients_.size() >= kMaxClients) {
            static const char kBusy[] = "{\"ok\": false, \"error\": \"too many control clients\"}\n";
            (void)!::write(fd, kBusy, sizeof kBusy - 1);
            ::close(fd);
            continue;
        }
        clients_.push_back(Client{fd, {}, {}, false});
    }
}

void ControlServer::flushClient(Client& c) {
    while (!c.out.empty()) {
        ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n > 0) {
            c.out.erase(0, size_t(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        c.closing = true;  // the client went away
        c.out.clear();
        return;
    }
}

void ControlServer::readClient(Client& c, const Handler& handler) {
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(c.fd, buf, sizeof buf);
        if (n > 0) {
            c.in.append(buf, size_t(n));
            size_t nl;
            while ((nl = c.in.find('\n')) != std::string::npos) {
                std::string line = c.in.substr(0, nl);
                c.in.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (line.find_first_not_of(" \t") == std::string::npos) continue;
                c.out += handler(line);
                c.out += '\n';
            }
            if (c.out.size() > kMaxUnreadReplyBytes) {
                c.out.clear();
                c.closing = true;
                return;
            }
            if (c.in.size() > kMaxRequestBytes) {
                c.out += "{\"ok\": false, \"error\": \"request line too long\"}\n";
                c.in.clear();
                c.closing = true;
            }
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        c.closing = true;  // end of stream or error: answer what is queued, then close
        return;
    }
}

void ControlServer::service(const std::vector<pollfd>& fds, size_t first, const Handler& handler) {
    if (listen_ < 0 || first >= fds.size()) return;
    size_t count = clients_.size();
    for (size_t i = 0; i < count && first + 1 + i < fds.size(); ++i) {
        Client& c = clients_[i];
        short re = fds[first + 1 + i].revents;
        if (re & (POLLIN | POLLHUP | POLLERR)) readClient(c, handler);
        flushClient(c);
    }
    for (size_t i = 0; i < clients_.size();) {
        if (clients_[i].closing && clients_[i].out.empty()) {
            ::close(clients_[i].fd);
            clients_.erase(clients_.begin() + long(i));
        } else {
            ++i;
        }
    }
    if (fds[first].revents & POLLIN) acceptAll();
}

}  // namespace sim
