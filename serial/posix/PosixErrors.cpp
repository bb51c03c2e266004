// The POSIX port's errno classification (see PosixErrors.h).
#include "serial/posix/PosixErrors.h"

#include <cerrno>
#include <cstring>

namespace serial {

PortStatus ErrnoStatus(int error, const std::string& what) {
    // A device that vanished (an unplugged adapter) answers any of these.
    const bool gone = error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
    const PortError kind = gone ? PortError::Gone : error == ETIMEDOUT ? PortError::TimedOut : PortError::Io;
    return PortStatus{kind, what + ": " + std::strerror(error)};
}

PortStatus OpenErrnoStatus(int error) {
    PortError kind = PortError::Io;
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENXIO:
        case ENODEV: kind = PortError::NoSuchPort; break;
        case ENOTTY:  // a file or device that is no terminal
            kind = PortError::NotSerial;
            break;
        case EISDIR: kind = PortError::Folder; break;
        case EBUSY:
        case EWOULDBLOCK: kind = PortError::Busy; break;
        default: break;
    }
    return PortStatus{kind, std::strerror(error)};
}

}  // namespace serial
