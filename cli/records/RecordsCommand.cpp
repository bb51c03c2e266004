// The records command (see RecordsCommand.h).
#include "cli/records/RecordsCommand.h"

#include <memory>
#include <string>
#include <vector>

#include "cli/output/FailureTexts.h"
#include "cli/records/Forwarding.h"
#include "cli/records/RecordsOutput.h"
#include "records/PgConnection.h"
#include "records/RecordStore.h"
#include "records/ServerRecords.h"

namespace cli {

namespace {

int ListServerRecords(const RecordsOptions& options, const records::Filter& filter, std::ostream& out,
                      std::ostream& err) {
    records::ServerRecords server(options.file);
    std::vector<records::Row> rows;
    records::ServerError failure;
    if (!server.List(filter, &rows, &failure)) {
        FailureDetails details = Words(failure.text);
        details.name = records::ServerName(options.file);
        err << "varnex: " << FailureText(Failure::ServerNotRead, details) << std::endl;
        return kExitSomeFailed;
    }
    if (options.summary) WriteDaySummaries(out, records::SummariseRows(rows), options.format);
    else WriteRows(out, rows, options.format);
    return kExitAllDone;
}

}  // namespace

int RunRecordsCommand(const RecordsOptions& options, std::ostream& out, std::ostream& err) {
    if (options.forward) return ForwardFile(options.forwardFile, options.forwardUrl, out, err);
    records::Filter filter{options.since, options.port, options.result, options.station, options.serial};
    if (records::IsServerUrl(options.file)) return ListServerRecords(options, filter, out, err);
    std::string error;
    std::unique_ptr<records::RecordStore> store =
        records::RecordStore::Open(options.file, records::Access::Read, &error);
    if (!store) {
        err << "varnex: " << FailureText(Failure::RecordsNotReadable, Words(error)) << std::endl;
        return kExitUsage;
    }
    bool read = false;
    if (options.summary) {
        std::vector<records::DaySummary> days;
        read = store->Summarise(filter, &days, &error);
        if (read) WriteDaySummaries(out, days, options.format);
    } else {
        std::vector<records::Row> rows;
        read = store->List(filter, &rows, &error);
        if (read) WriteRows(out, rows, options.format);
    }
    if (read) return kExitAllDone;
    err << "varnex: " << error << std::endl;
    return kExitSomeFailed;
}

}  // namespace cli
