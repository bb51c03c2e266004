// The POSIX port's errno classification: which system errors mean a vanished device, a
// missing one or a busy one, keeping the system's own words for the message.
#pragma once

#include <string>

#include "serial/SerialPort.h"

namespace serial {

// An error on an open port: EIO, ENXIO, ENODEV and EPIPE are an unplugged adapter (Gone).
PortStatus ErrnoStatus(int error, const std::string& what);
// An error opening a port: no such device (NoSuchPort), a file or device that is no
// terminal (NotSerial), a folder (Folder), held elsewhere (Busy), or Io.
PortStatus OpenErrnoStatus(int error);

}  // namespace serial
