// The records' three output forms (see RecordsOutput.h).
#include "cli/RecordsOutput.h"

#include <algorithm>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/UnitBoard.h"

namespace cli {

namespace {

constexpr const char* kCsvLineEnd = "\r\n";

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

nlohmann::json RowJson(const records::Row& r) {
    return {{"id", r.id},
            {"started_at", r.startedAt},
            {"ended_at", r.endedAt.empty() ? nlohmann::json() : nlohmann::json(r.endedAt)},
            {"station", r.station},
            {"port", r.port},
            {"operation", r.operation},
            {"image", r.image},
            {"image_size", r.imageSize},
            {"image_sha256", r.imageSha256},
            {"baud", r.baud},
            {"bytes_sent", r.bytesSent},
            {"result", r.result},
            {"reason", r.reason},
            {"duration_ms", r.durationMs},
            {"unit", r.unit},
            {"varnex_version", r.version}};
}

void WriteRows(std::ostream& out, const std::vector<records::Row>& rows, RecordsFormat format) {
    if (format == RecordsFormat::Json) {
        for (const records::Row& r : rows) WriteJson(out, RowJson(r));
        out.flush();
        return;
    }
    Table table;
    if (format == RecordsFormat::Csv) {
        table.push_back({"id", "started_at", "ended_at", "station", "port", "operation", "image", "image_size",
                         "image_sha256", "baud", "bytes_sent", "result", "reason", "duration_ms", "unit",
                         "varnex_version"});
        for (const records::Row& r : rows) {
            table.push_back({std::to_string(r.id), r.startedAt, r.endedAt, r.station, r.port, r.operation, r.image,
                             std::to_string(r.imageSize), r.imageSha256, std::to_string(r.baud),
                             std::to_string(r.bytesSent), r.result, r.reason, std::to_string(r.durationMs),
                             std::to_string(r.unit), r.version});
        }
    } else {
        table.push_back({"STARTED (UTC)", "STATION", "PORT", "UNIT", "IMAGE", "BYTES", "TIME", "RESULT", "REASON"});
        for (const records::Row& r : rows) {
            table.push_back({r.startedAt, r.station, r.port, std::to_string(r.unit), r.image,
                             std::to_string(r.bytesSent), r.endedAt.empty() ? "-" : FormatDuration(r.durationMs),
                             r.result, r.reason});
        }
    }
    WriteTable(out, table, format);
}

void WriteDaySummaries(std::ostream& out, const std::vector<records::DaySummary>& days, RecordsFormat format) {
    if (format == RecordsFormat::Json) {
        for (const records::DaySummary& d : days) {
            WriteJson(out, {{"day", d.day},
                            {"port", d.port},
                            {"loaded", d.loaded},
                            {"failed", d.failed},
                            {"median_ms", d.medianMs}});
        }
        out.flush();
        return;
    }
    const bool csv = format == RecordsFormat::Csv;
    Table table;
    table.push_back(csv ? std::vector<std::string>{"day", "port", "loaded", "failed", "median_ms"}
                        : std::vector<std::string>{"DAY", "PORT", "LOADED", "FAILED", "MEDIAN TIME"});
    for (const records::DaySummary& d : days) {
        table.push_back({d.day, d.port, std::to_string(d.loaded), std::to_string(d.failed),
                         csv ? std::to_string(d.medianMs) : (d.loaded ? FormatDuration(d.medianMs) : "-")});
    }
    WriteTable(out, table, format);
}

}  // namespace cli
