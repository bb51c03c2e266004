// varnex records' output: the rows (or the per-day summary) as an aligned table, as CSV in
// RFC 4180 form (quoted where needed, CRLF line ends) for a spreadsheet, or as one JSON
// object per line. The CSV and the JSON carry every column of the records, named and ordered
// as the records define them; the table shows the few an operator reads.
#pragma once

#include <ostream>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/Options.h"
#include "records/RecordStore.h"

namespace cli {

// One row as varnex records --format json writes it (and the web board's /api/records).
nlohmann::json RowJson(const records::Row& row);
void WriteRows(std::ostream& out, const std::vector<records::Row>& rows, RecordsFormat format);
void WriteDaySummaries(std::ostream& out, const std::vector<records::DaySummary>& days, RecordsFormat format);

// One CSV field as RFC 4180 writes it: in double quotes, with its quotes doubled, when it
// holds a comma, a quote or a line end; as it is otherwise.
std::string CsvField(const std::string& text);

}  // namespace cli
