// The service commands put together (see ServiceCommand.h).
#include "cli/service/ServiceCommand.h"

#include "cli/load/RunUnits.h"
#include "cli/service/ServiceWorker.h"
#include "serial/LineSpeeds.h"

namespace cli {

int RunServiceCommand(const ServiceOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel) {
    NoteRawPorts(options.units, serial::kLinkBaudRate, err);
    ServicePlan service{options.command, options.file, options.programName};
    return RunUnits(
        options.units, out, cancel, [&service](const UnitContext& context) { RunServiceUnit(context, service); },
        RunEnd::UnitsOnly);
}

}  // namespace cli
