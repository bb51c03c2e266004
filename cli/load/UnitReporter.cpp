// The workers' shared port opening (see UnitReporter.h).
#include "cli/load/UnitReporter.h"

namespace cli {

std::unique_ptr<serial::SerialPort> OpenPort(const UnitContext& context, const Reporter& reporter) {
    FailureDetails details;
    std::unique_ptr<serial::SerialPort> port = context.open(context.port, &details.status);
    if (!port) reporter.Fail(Failure::PortNotOpened, details);
    return port;
}

}  // namespace cli
