// The commands of varnex handed to their rooms (see Commands.h).
#include "cli/Commands.h"

#include "cli/load/LoadCommand.h"
#include "cli/ports/PortsCommand.h"
#include "cli/records/RecordsCommand.h"
#include "cli/service/ServiceCommand.h"
#include "cli/station/LineCommand.h"
#include "cli/station/StationCommand.h"

namespace cli {

CommandRunners CommandRunnersFor(std::ostream& out, std::ostream& err, std::atomic<bool>& cancel,
                                 const StopGuard& guard) {
    CommandRunners runners;
    runners.ports = [&out, &err, guard](const PortsOptions& options) {
        return guard([&] { return RunPortsCommand(options, out, err); });
    };
    runners.download = [&out, &err, &cancel, guard](const DownloadOptions& options) {
        return guard([&] { return RunDownloadCommand(options, out, err, cancel); });
    };
    runners.erase = [&out, &err, &cancel, guard](const EraseOptions& options) {
        return guard([&] { return RunEraseCommand(options, out, err, cancel); });
    };
    runners.service = [&out, &err, &cancel, guard](const ServiceOptions& options) {
        return guard([&] { return RunServiceCommand(options, out, err, cancel); });
    };
    runners.station = [&out, &err, &cancel, guard](const StationOptions& options) {
        return guard([&] { return RunStationCommand(options, out, err, cancel); });
    };
    runners.records = [&out, &err](const RecordsOptions& options) { return RunRecordsCommand(options, out, err); };
    runners.line = [&out, &err, &cancel, guard](const LineOptions& options) {
        return guard([&] { return RunLineCommand(options, out, err, cancel); });
    };
    return runners;
}

}  // namespace cli
