// The board's terminal layout (see TerminalLayout.h).
#include "board/TerminalLayout.h"

#include <algorithm>
#include <cstdio>

#include "board/Formats.h"
#include "board/TextFit.h"

namespace board {

namespace {

constexpr size_t kMinColumns = 20;  // below this the lines are cut, not laid out
constexpr size_t kMinNameWidth = 8;
constexpr size_t kColumnGap = 1;
constexpr size_t kWordWidth = 7;  // the longest tile word ("opening", "confirm")
constexpr size_t kMinTileColumns = 2;
constexpr size_t kMinTileWidth = 12;
constexpr const char* kFailedLabel = "FAILED ";
constexpr const char* kReset = "\x1b[0m";

const char* ColourOf(Look look) {
    switch (look) {
        case Look::Failed: return "\x1b[31m";   // red
        case Look::Done: return "\x1b[32m";     // green
        case Look::Waiting: return "\x1b[33m";  // yellow
        case Look::Loading:
        case Look::Confirming: return "\x1b[36m";  // cyan
        case Look::Lost: return "\x1b[35m";        // magenta
        case Look::Opening: break;
    }
    return "";
}

const char* WordOf(Look look) {
    switch (look) {
        case Look::Opening: return "opening";
        case Look::Waiting: return "waiting";
        case Look::Loading: return "loading";
        case Look::Confirming: return "confirm";
        case Look::Done: return "done";
        case Look::Failed: return "failed";
        case Look::Lost: return "lost";
    }
    return "";
}

std::string Paint(const std::string& text, Look look, const LayoutOptions& options) {
    const char* colour = ColourOf(look);
    if (!options.colour || *colour == '\0' || text.empty()) return text;
    return colour + text + kReset;
}

// The name a tile shows: the last part of its path.
std::string ShortName(const std::string& name) {
    const size_t slash = name.find_last_of("/\\");
    return slash == std::string::npos || slash + 1 == name.size() ? name : name.substr(slash + 1);
}

std::vector<std::string> FullLayout(const StationState& state, size_t width, const LayoutOptions& options) {
    size_t widest = 0;
    for (const PortState& port : state.ports) widest = std::max(widest, DisplayWidth(port.name));
    const size_t nameWidth = std::min(widest, std::max(kMinNameWidth, width * 2 / 5));
    const size_t textWidth = width > nameWidth + 2 ? width - nameWidth - 2 : 0;
    std::vector<std::string> lines;
    for (const PortState& port : state.ports) {
        std::string line = PadRight(ShortenMiddle(port.name, nameWidth), nameWidth);
        if (textWidth > 0) line += "  " + Paint(CutEnd(PortText(port), textWidth), LookOf(port), options);
        lines.push_back(line);
    }
    return lines;
}

// The failed ports' names in lines of at most width, after the label.
std::vector<std::string> FailureLines(const std::vector<const PortState*>& failed, size_t width, size_t nameWidth,
                                      const LayoutOptions& options) {
    std::vector<std::string> lines;
    std::string line = kFailedLabel;
    size_t used = DisplayWidth(line);
    for (const PortState* port : failed) {
        const std::string name = ShortenMiddle(ShortName(port->name), nameWidth);
        const size_t need = DisplayWidth(name) + (used > DisplayWidth(kFailedLabel) ? 2 : 0);
        if (used + need > width && used > DisplayWidth(kFailedLabel)) {
            lines.push_back(line);
            line = std::string(DisplayWidth(kFailedLabel), ' ');
            used = DisplayWidth(line);
        }
        if (used > DisplayWidth(kFailedLabel)) line += "  ";
        line += Paint(name, Look::Failed, options);
        used += need;
    }
    if (!failed.empty()) lines.push_back(line);
    return lines;
}

std::string Tile(const PortState& port, size_t tileWidth, const LayoutOptions& options) {
    const Look look = LookOf(port);
    std::string word = WordOf(look);
    if (look == Look::Loading) {
        const unsigned percent = port.total == 0 ? 0 : static_cast<unsigned>(100 * port.bytes / port.total);
        word = std::to_string(percent) + " %";
    }
    const size_t nameWidth = tileWidth > kWordWidth + 1 ? tileWidth - kWordWidth - 1 : 1;
    std::string name = PadRight(ShortenMiddle(ShortName(port.name), nameWidth), nameWidth);
    return name + " " + Paint(PadRight(CutEnd(word, kWordWidth), kWordWidth), look, options);
}

// Tiles for the ports that did not fail, in as few columns (at least two; when compact as
// many as show the names whole) as fit the rows left; when even the narrowest tiles do not fit, the last row
// says how many are not shown.
std::vector<std::string> TileLines(const std::vector<const PortState*>& ports, size_t width, size_t rows,
                                   const LayoutOptions& options) {
    std::vector<std::string> lines;
    if (ports.empty() || rows == 0) return lines;
    const size_t maxColumns = std::max<size_t>(1, (width + kColumnGap) / (kMinTileWidth + kColumnGap));
    size_t columns = std::min(kMinTileColumns, maxColumns);
    if (options.compact) {
        // As many columns as show the names whole.
        size_t widest = 0;
        for (const PortState* port : ports) widest = std::max(widest, DisplayWidth(ShortName(port->name)));
        const size_t whole = widest + 1 + kWordWidth + kColumnGap;
        columns = std::max(columns, std::min(maxColumns, (width + kColumnGap) / whole));
    }
    while (columns < maxColumns && (ports.size() + columns - 1) / columns > rows) ++columns;
    const size_t tileWidth = (width + kColumnGap) / columns - kColumnGap;
    const size_t needed = (ports.size() + columns - 1) / columns;
    const bool cut = needed > rows;
    const size_t shownRows = cut ? rows - 1 : needed;
    const size_t shown = std::min(ports.size(), shownRows * columns);
    // Column by column, so a port keeps its place as long as the count of failures stays.
    for (size_t row = 0; row < shownRows; ++row) {
        std::string line;
        for (size_t column = 0; column < columns; ++column) {
            const size_t index = column * shownRows + row;
            if (index >= shown) break;
            if (column > 0) line += std::string(kColumnGap, ' ');
            line += Tile(*ports[index], tileWidth, options);
        }
        lines.push_back(line);
    }
    if (cut) lines.push_back(CutEnd("+" + std::to_string(ports.size() - shown) + " more ports", width));
    return lines;
}

std::vector<std::string> CompactLayout(const StationState& state, size_t width, size_t rows,
                                       const LayoutOptions& options) {
    std::vector<const PortState*> failed;
    std::vector<const PortState*> others;
    for (const PortState& port : state.ports) (port.failed ? failed : others).push_back(&port);
    const size_t failedNameWidth = std::max(kMinNameWidth, width / 4);
    std::vector<std::string> lines = FailureLines(failed, width, failedNameWidth, options);
    if (lines.size() > rows) {
        lines.resize(rows);
        return lines;
    }
    std::vector<std::string> tiles = TileLines(others, width, rows - lines.size(), options);
    lines.insert(lines.end(), tiles.begin(), tiles.end());
    return lines;
}

}  // namespace

Look LookOf(const PortState& port) {
    if (port.failed) return Look::Failed;
    if (port.lost) return Look::Lost;
    if (port.loading) return Look::Loading;
    if (port.step == station::StepName(station::Step::WaitingForConfirmation)) return Look::Confirming;
    if (port.step == station::StepName(station::Step::WaitingForUnitToGo)) {
        return port.result == station::LoadResultName(station::LoadResult::Confirmed) ? Look::Done : Look::Waiting;
    }
    if (port.step == station::StepName(station::Step::WaitingForUnit)) return Look::Waiting;
    return Look::Opening;
}

// The header's second line while the server lacks rows or refuses them: "records: 3 waiting
// for db.line3 (connection refused)"; "" while it has them all.
std::string ServerText(const RecordsServer& server) {
    if (server.host.empty() || (server.waiting == 0 && server.reason.empty())) return "";
    std::string text = "records: " + std::to_string(server.waiting) + " waiting for " + server.host;
    if (!server.reason.empty()) text += " (" + server.reason + ")";
    return text;
}

std::string HeaderText(const StationState& state) {
    char perHour[32];
    std::snprintf(perHour, sizeof perHour, "%.1f", state.unitsPerHour);
    std::string yield = "-";
    if (state.yield >= 0.0) {
        char text[16];
        std::snprintf(text, sizeof text, "%.1f %%", state.yield * 100.0);
        yield = text;
    }
    return "records: " + (state.records.empty() ? std::string("none") : state.records) +
           "   loaded: " + std::to_string(state.loaded) + "   failed: " + std::to_string(state.failed) +
           "   yield: " + yield + "   units/hour: " + perHour;
}

std::string PortText(const PortState& port) {
    if (port.failed) {
        std::string text = "failed: ";
        if (port.unit != 0) text += "unit " + std::to_string(port.unit) + ": ";
        text += port.reason;
        if (port.lost) text += "; " + port.text;
        return text;
    }
    if (!port.loading) return port.text.empty() ? port.step : port.text;
    std::string text = "unit " + std::to_string(port.unit) + "  loading " + FormatPercent(port.bytes, port.total);
    if (port.rate > 0.0) text += "  " + FormatRate(port.rate);
    if (port.leftMs >= 0 && port.bytes < port.total) {
        text += "  " + FormatDuration(static_cast<uint64_t>(port.leftMs)) + " left";
    }
    return text;
}

std::vector<std::string> LayoutBoard(const StationState& state, TerminalSize size, const LayoutOptions& options) {
    // Never the terminal's full width, and the row under the last line stays free.
    const size_t width = size.columns > 1 ? size.columns - 1 : 1;
    const size_t rows = size.rows > 1 ? size.rows - 1 : 1;
    std::vector<std::string> lines;
    const std::string header = HeaderText(state);
    if (width < kMinColumns) {
        lines.push_back(CutEnd(header, width));
    } else {
        // The records file gives way first: the counters are what the operator reads.
        const size_t over = DisplayWidth(header) > width ? DisplayWidth(header) - width : 0;
        StationState shorter;
        shorter.records = state.records.empty() ? std::string()
                                                : ShortenMiddle(state.records, DisplayWidth(state.records) > over + 1
                                                                                   ? DisplayWidth(state.records) - over
                                                                                   : 1);
        shorter.loaded = state.loaded;
        shorter.failed = state.failed;
        shorter.yield = state.yield;
        shorter.unitsPerHour = state.unitsPerHour;
        lines.push_back(CutEnd(HeaderText(shorter), width));
    }
    // What waits for the records server, on a line of its own: its reason is what the
    // operator reads there, and it would not fit beside the counters.
    const std::string server = ServerText(state.server);
    if (!server.empty() && rows > 1) lines.push_back(CutEnd(server, width));
    if (rows <= lines.size()) return lines;
    const size_t bodyRows = rows - lines.size();
    std::vector<std::string> body = !options.compact && state.ports.size() <= bodyRows && width >= kMinColumns
                                        ? FullLayout(state, width, options)
                                        : CompactLayout(state, width, bodyRows, options);
    lines.insert(lines.end(), body.begin(), body.end());
    return lines;
}

}  // namespace board
