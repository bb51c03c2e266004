// The records' three output forms (see RecordsOutput.h).
#include "cli/records/RecordsOutput.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

#include "cli/output/UnitBoard.h"
#include "records/RecordColumns.h"

namespace cli {

namespace {

constexpr const char* kCsvLineEnd = "\r\n";
constexpr double kPercent = 100.0;

using Table = std::vector<std::vector<std::string>>;

// The first line is the header; the last column is not padded.
void WriteTable(std::ostream& out, const Table& table, RecordsFormat format) {
    if (format == RecordsFormat::Csv) {
        for (const auto& line : table) {
            for (size_t i = 0; i < line.size(); ++i) out << (i ? "," : "") << CsvField(line[i]);
            out << kCsvLineEnd;
        }
        out.flush();
        return;
    }
    std::vector<size_t> widths;
    for (const auto& line : table) {
        widths.resize(std::max(widths.size(), line.size()), 0);
        for (size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], line[i].size());
    }
    for (const auto& line : table) {
        std::string text;
        for (size_t i = 0; i < line.size(); ++i) {
            text += line[i];
            if (i + 1 < line.size()) text += std::string(widths[i] - line[i].size() + 2, ' ');
        }
        out << text << '\n';
    }
    out.flush();
}

void WriteJson(std::ostream& out, const nlohmann::json& object) {
    out << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

// A column's value as the CSV and the table write it.
std::string ValueText(const records::Value& value) {
    if (const std::string* text = std::get_if<std::string>(&value)) return *text;
    return std::to_string(std::get<int64_t>(value));
}

nlohmann::json JsonValue(const records::Column& column, const records::Value& value) {
    if (const std::string* text = std::get_if<std::string>(&value)) {
        // A text written at the row's end is null until the row ends.
        if (text->empty() && column.written == records::Written::AtEnd) return nullptr;
        return *text;
    }
    return std::get<int64_t>(value);
}

std::string Plain(const records::Row&, const records::Value& value) { return ValueText(value); }

// A row not ended has no time yet.
std::string Duration(const records::Row& row, const records::Value& value) {
    const int64_t* ms = std::get_if<int64_t>(&value);
    return row.endedAt.empty() || ms == nullptr ? "-" : FormatDuration(static_cast<uint64_t>(*ms));
}

// The table's view of a row: the columns an operator reads, in the order read, each under
// its heading.
struct TableColumn {
    const char* heading;
    const char* column;  // its name in the records
    std::string (*cell)(const records::Row& row, const records::Value& value);
};

constexpr TableColumn kTableColumns[] = {
    {"STARTED (UTC)", "started_at", Plain},
    {"STATION", "station", Plain},
    {"PORT", "port", Plain},
    {"UNIT", "unit", Plain},
    {"SERIAL", "serial", Plain},
    {"IMAGE", "image", Plain},
    {"BYTES", "bytes_sent", Plain},
    {"TIME", "duration_ms", Duration},
    {"RESULT", "result", Plain},
    {"REASON", "reason", Plain},
};

}  // namespace

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

nlohmann::json RowJson(const records::Row& row) {
    nlohmann::json object = nlohmann::json::object();
    for (const records::Column& column : records::Columns()) object[column.name] = JsonValue(column, column.get(row));
    return object;
}

void WriteRows(std::ostream& out, const std::vector<records::Row>& rows, RecordsFormat format) {
    const std::vector<records::Column>& columns = records::Columns();
    if (format == RecordsFormat::Json) {
        for (const records::Row& row : rows) WriteJson(out, RowJson(row));
        out.flush();
        return;
    }
    Table table;
    if (format == RecordsFormat::Csv) {
        std::vector<std::string> header;
        for (const records::Column& column : columns) header.push_back(column.name);
        table.push_back(header);
        for (const records::Row& row : rows) {
            std::vector<std::string> line;
            for (const records::Column& column : columns) line.push_back(ValueText(column.get(row)));
            table.push_back(line);
        }
    } else {
        std::vector<std::string> header;
        std::vector<const records::Column*> shown;
        for (const TableColumn& view : kTableColumns) {
            header.push_back(view.heading);
            shown.push_back(records::FindColumn(view.column));
        }
        table.push_back(header);
        for (const records::Row& row : rows) {
            std::vector<std::string> line;
            for (size_t i = 0; i < shown.size(); ++i) {
                const records::Value value = shown[i] != nullptr ? shown[i]->get(row) : records::Value();
                line.push_back(kTableColumns[i].cell(row, value));
            }
            table.push_back(line);
        }
    }
    WriteTable(out, table, format);
}

std::string FirstPassText(const records::DaySummary& d, bool csv) {
    const double yield = d.FirstPassYield();
    if (yield < 0) return csv ? "" : "-";
    char text[16];
    std::snprintf(text, sizeof text, csv ? "%.4f" : "%.1f%%", csv ? yield : yield * kPercent);
    return text;
}

void WriteDaySummaries(std::ostream& out, const std::vector<records::DaySummary>& days, RecordsFormat format) {
    if (format == RecordsFormat::Json) {
        for (const records::DaySummary& d : days) {
            const double yield = d.FirstPassYield();
            WriteJson(out, {{"day", d.day},
                            {"station", d.station},
                            {"port", d.port},
                            {"loaded", d.loaded},
                            {"failed", d.failed},
                            {"median_ms", d.medianMs},
                            {"units", d.units},
                            {"first_pass_yield", yield < 0 ? nlohmann::json(nullptr) : nlohmann::json(yield)}});
        }
        out.flush();
        return;
    }
    const bool csv = format == RecordsFormat::Csv;
    Table table;
    table.push_back(csv ? std::vector<std::string>{"day", "station", "port", "loaded", "failed", "median_ms", "units",
                                                   "first_pass_yield"}
                        : std::vector<std::string>{"DAY", "STATION", "PORT", "LOADED", "FAILED", "MEDIAN TIME", "UNITS",
                                                   "FIRST PASS"});
    for (const records::DaySummary& d : days) {
        table.push_back({d.day, d.station, d.port, std::to_string(d.loaded), std::to_string(d.failed),
                         csv ? std::to_string(d.medianMs) : (d.loaded ? FormatDuration(d.medianMs) : "-"),
                         std::to_string(d.units), FirstPassText(d, csv)});
    }
    WriteTable(out, table, format);
}

}  // namespace cli
