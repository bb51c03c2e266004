// The workers' shared reporting and port opening (see UnitReporter.h).
#include "cli/UnitReporter.h"

#include "download/DownloadText.h"

namespace cli {

std::string Reason(const serial::PortStatus& status) { return download::PortFailureText(status); }

std::string GoneText(const std::string& port) { return download::GoneText(port); }

std::unique_ptr<serial::SerialPort> OpenPort(const UnitContext& context, const Reporter& reporter) {
    serial::PortStatus status;
    std::unique_ptr<serial::SerialPort> port = context.open(context.port, &status);
    if (!port) reporter.Fail("cannot open the port: " + Reason(status));
    return port;
}

}  // namespace cli
