// The server's socket waited on with poll().
#include "records/SocketWait.h"

#include <cerrno>

#include <poll.h>

namespace records {

SocketReady WaitSocket(int socket, bool forWrite, int timeoutMs) {
    pollfd entry{};
    entry.fd = socket;
    entry.events = forWrite ? POLLOUT : POLLIN;
    int status;
    do {
        status = ::poll(&entry, 1, timeoutMs);
    } while (status < 0 && errno == EINTR);
    if (status < 0) return SocketReady::Failed;
    return status == 0 ? SocketReady::TimedOut : SocketReady::Ready;
}

}  // namespace records
