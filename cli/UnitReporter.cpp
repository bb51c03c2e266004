// The workers' shared reporting and port opening (see UnitReporter.h).
#include "cli/UnitReporter.h"

namespace cli {

std::string Reason(const serial::PortStatus& status) {
    std::string text = serial::PortErrorName(status.error);
    if (!status.text.empty() && status.text != text) text += " (" + status.text + ")";
    return text;
}

std::unique_ptr<serial::SerialPort> OpenPort(const UnitContext& context, const Reporter& reporter) {
    serial::PortStatus status;
    std::unique_ptr<serial::SerialPort> port = context.open(context.port, &status);
    if (!port) reporter.Fail("cannot open the port: " + Reason(status));
    return port;
}

}  // namespace cli
