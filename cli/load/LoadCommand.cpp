// download and erase put together (see LoadCommand.h).
#include "cli/load/LoadCommand.h"

#include <memory>
#include <string>

#include "cli/load/Images.h"
#include "cli/load/RunUnits.h"
#include "cli/load/UnitWorker.h"
#include "cli/records/Forwarding.h"
#include "cli/records/RecordKeeping.h"
#include "common/Clock.h"
#include "download/EraseEngine.h"
#include "records/RecordStore.h"

namespace cli {

using common::kMsPerSecond;

int RunDownloadCommand(const DownloadOptions& options, std::ostream& out, std::ostream& err,
                       std::atomic<bool>& cancel) {
    ImageSource image;
    std::string error;
    if (!image.Load(options, &error)) {
        err << "varnex: " << error << std::endl;
        return kExitUsage;
    }
    std::shared_ptr<records::RecordStore> store;
    if (!OpenRecords(options.units.records, err, &store)) return kExitUsage;
    records::Row row = RunRow("");
    DescribeImage(options, image.Bytes(), &row);
    row.baud = options.baud;
    std::unique_ptr<RecordKeeping> keeping;
    if (store) keeping = std::make_unique<RecordKeeping>(*store, row);
    DownloadPlan plan{image.Bytes(), options.baud, options.waitSeconds * kMsPerSecond, !options.noCtsWait};
    NoteRawPorts(options.units, options.baud, err);
    Forwarding forwarding(store, options.units.records, options.units.forward, err);
    const int code = RunUnits(
        options.units, out, cancel, [&plan](const UnitContext& context) { RunDownloadUnit(context, plan); },
        RunEnd::Summary, keeping.get());
    forwarding.Finish(out);
    return code;
}

int RunEraseCommand(const EraseOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& cancel) {
    std::shared_ptr<records::RecordStore> store;
    if (!OpenRecords(options.units.records, err, &store)) return kExitUsage;
    records::Row row = RunRow("");
    row.operation = "erase";
    row.baud = download::kEraseBaudRate;
    std::unique_ptr<RecordKeeping> keeping;
    if (store) keeping = std::make_unique<RecordKeeping>(*store, row);
    NoteRawPorts(options.units, download::kEraseBaudRate, err);
    Forwarding forwarding(store, options.units.records, options.units.forward, err);
    const int code = RunUnits(
        options.units, out, cancel, [](const UnitContext& context) { RunEraseUnit(context); }, RunEnd::Summary,
        keeping.get());
    forwarding.Finish(out);
    return code;
}

}  // namespace cli
