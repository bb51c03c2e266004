// The POSIX port's errno classification: which system errors mean a vanished device, a
// missing one or a busy one, keeping the system's code and its own words for the message.
#pragma once

#include <string>

#include "serial/SerialPort.h"

namespace serial {

// The system's words for an errno value: every POSIX port text is spelled here.
std::string SystemText(int error);
// A failure of the given kind with the system's code and words, after "what: " when given.
PortStatus SystemStatus(PortError kind, int error, const std::string& what = std::string());

// An error on an open port: EIO, ENXIO, ENODEV and EPIPE are an unplugged adapter (Gone).
PortStatus ErrnoStatus(int error, const std::string& what);
// An error opening a port: no such device (NoSuchPort), a file or device that is no
// terminal (NotSerial), a folder (Folder), held elsewhere (Busy), or Io.
PortStatus OpenErrnoStatus(int error);

}  // namespace serial
