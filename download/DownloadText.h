// The words every front-end on the download engine shows for a port failure and for a load
// that did not end done, so that varnex download and the loading station say the same.
#pragma once

#include <string>

#include "download/DownloadEngine.h"
#include "serial/SerialPort.h"

namespace download {

// The error kind in words, and the system's own text where it adds something.
std::string PortFailureText(const serial::PortStatus& status);

// "the port is gone", with the likely cause for that kind of port.
std::string GoneText(serial::PortKind kind);

// Why a load on that kind of port did not end done, with its byte count ("stopped by Ctrl-C
// after 100 of 200 bytes"); empty for Done.
std::string OutcomeText(const DownloadOutcome& outcome, serial::PortKind kind);
// The same, with a stop worded by the front-end that knows who asked for it ("stopped").
std::string OutcomeText(const DownloadOutcome& outcome, serial::PortKind kind, const std::string& stoppedWords);

}  // namespace download
