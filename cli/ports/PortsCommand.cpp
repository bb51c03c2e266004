// The ports command (see PortsCommand.h).
#include "cli/ports/PortsCommand.h"

#include <algorithm>
#include <iomanip>
#include <memory>
#include <string>
#include <vector>

#include "cli/output/FailureTexts.h"
#include "cli/ports/PortsConfig.h"
#include "serial/PortList.h"
#include "serial/SerialPort.h"

namespace cli {

namespace {

std::string Probe(const std::string& name) {
    serial::PortStatus status;
    std::unique_ptr<serial::SerialPort> port = serial::OpenSerialPort(name, &status);
    if (!port) {
        if (status.error == serial::PortError::Busy) return FailureText(Failure::ProbeBusy);
        return FailureText(Failure::ProbeNotOpened, PortFailure(status));
    }
    bool on = false;
    serial::PortStatus cts = port->ReadCts(&on);
    if (!cts.Ok()) return FailureText(Failure::ProbeCtsNotRead, PortFailure(cts));
    return on ? "CTS up: ready (a unit in its bootloader menu)" : "CTS down: no unit ready";
}

}  // namespace

int RunPortsCommand(const PortsOptions& options, std::ostream& out, std::ostream& err) {
    if (!options.remember.empty()) {
        std::string error;
        if (!serial::RememberPort(options.remember, &error)) {
            err << "varnex: " << error << std::endl;
            return kExitSomeFailed;
        }
        out << options.remember << " is now the port the wizard opens at its next start" << std::endl;
        return kExitAllDone;
    }
    std::vector<serial::PortInfo> ports = serial::ListSerialPorts();
    if (options.stationConfig) {
        out << StationConfigText(FixturesOf(ports));
        return kExitAllDone;
    }
    if (ports.empty()) {
        out << "no serial ports found" << std::endl;
        return kExitAllDone;
    }
    size_t width = 0;
    for (const serial::PortInfo& port : ports) width = std::max(width, port.name.size());
    for (const serial::PortInfo& port : ports) {
        out << std::left << std::setw(static_cast<int>(width + 2)) << port.name << port.description;
        if (options.probe) out << "  [" << Probe(port.name) << "]";
        out << std::endl;
        // The names that stay with the port across boots, for --port and a configuration.
        for (const std::string& name : port.byPath) out << "    by-path: " << name << std::endl;
        for (const std::string& name : port.byId) out << "    by-id:   " << name << std::endl;
    }
    return kExitAllDone;
}

}  // namespace cli
