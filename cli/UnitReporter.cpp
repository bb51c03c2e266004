// The workers' shared reporting and port opening (see UnitReporter.h).
#include "cli/UnitReporter.h"

#include "serial/NetworkPortName.h"

namespace cli {

std::string Reason(const serial::PortStatus& status) {
    std::string text = serial::PortErrorName(status.error);
    if (!status.text.empty() && status.text != text) text += " (" + status.text + ")";
    return text;
}

std::string GoneText(const std::string& port) {
    return serial::IsNetworkPortName(port) ? "the port is gone (server or network lost?)"
                                           : "the port is gone (adapter unplugged?)";
}

std::unique_ptr<serial::SerialPort> OpenPort(const UnitContext& context, const Reporter& reporter) {
    serial::PortStatus status;
    std::unique_ptr<serial::SerialPort> port = context.open(context.port, &status);
    if (!port) reporter.Fail("cannot open the port: " + Reason(status));
    return port;
}

}  // namespace cli
