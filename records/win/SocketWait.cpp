// The server's socket waited on with WSAPoll (Windows 7 and later).
#include "records/SocketWait.h"

#include <winsock2.h>

namespace records {

SocketReady WaitSocket(int socket, bool forWrite, int timeoutMs) {
    WSAPOLLFD entry{};
    entry.fd = static_cast<SOCKET>(socket);
    entry.events = forWrite ? POLLWRNORM : POLLRDNORM;
    const int status = ::WSAPoll(&entry, 1, timeoutMs);
    if (status == SOCKET_ERROR) return SocketReady::Failed;
    return status == 0 ? SocketReady::TimedOut : SocketReady::Ready;
}

}  // namespace records
