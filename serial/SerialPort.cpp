// The fixed words for each kind of port failure, shared by every platform and front-end.
#include "serial/SerialPort.h"

namespace serial {

const char* PortErrorName(PortError error) {
    switch (error) {
        case PortError::None: return "no error";
        case PortError::TimedOut: return "timed out";
        case PortError::NoSuchPort: return "no such port";
        case PortError::NotSerial: return "not a serial port";
        case PortError::Folder: return "a folder, not a serial port";
        case PortError::Busy: return "port is busy";
        case PortError::Gone: return "device is gone";
        case PortError::Io: return "input/output error";
    }
    return "unknown error";
}

}  // namespace serial
