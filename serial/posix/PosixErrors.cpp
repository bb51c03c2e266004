// The POSIX port's errno classification (see PosixErrors.h).
#include "serial/posix/PosixErrors.h"

#include <cerrno>

#include "common/ErrnoText.h"

namespace serial {

std::string SystemText(int error) { return common::ErrnoText(error); }

PortStatus SystemStatus(PortError kind, int error, const std::string& what) {
    const std::string text = what.empty() ? SystemText(error) : what + ": " + SystemText(error);
    return PortStatus{kind, text, std::error_code(error, std::generic_category())};
}

PortStatus ErrnoStatus(int error, const std::string& what) {
    // A device that vanished (an unplugged adapter) answers any of these.
    const bool gone = error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
    const PortError kind = gone ? PortError::Gone : error == ETIMEDOUT ? PortError::TimedOut : PortError::Io;
    return SystemStatus(kind, error, what);
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
    return SystemStatus(kind, error);
}

}  // namespace serial
