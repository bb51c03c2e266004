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
constexpr size_t kWholeNameWidth = 20;  // a tile's name up to this long is shown whole
constexpr const char* kFailedLabel = "FAILED ";
constexpr const char* kReset = "\x1b[0m";
constexpr const char* kRecordsLabel = "records: ";

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

// The last part of a path.
NamePart LastElement(const std::string& name) {
    const size_t slash = name.find_last_of("/\\");
    const size_t start = slash == std::string::npos || slash + 1 == name.size() ? 0 : slash + 1;
    return {start, name.size() - start};
}

// The name a tile shows: the last part of its path, or when that does not fit, what tells the
// port from the others (a by-id name's serial), shortened only if even that does not fit.
std::string TileName(const PortState& port, size_t width) {
    const std::string last = LastElement(port.name).Of(port.name);
    if (DisplayWidth(last) <= width) return last;
    return ShortenMiddle(port.distinct.Of(port.name), width);
}

// The columns a tile's name asks for: a short name whole, a long one only its distinct part.
size_t TileNameWidth(const PortState& port) {
    const size_t last = DisplayWidth(LastElement(port.name).Of(port.name));
    return last <= kWholeNameWidth ? last : DisplayWidth(port.distinct.Of(port.name));
}

std::vector<std::string> FullLayout(const StationState& state, size_t width, const LayoutOptions& options) {
    size_t widest = 0;
    for (const PortState& port : state.ports) widest = std::max(widest, DisplayWidth(port.name));
    const size_t nameWidth = std::min(widest, std::max(kMinNameWidth, width * 2 / 5));
    const size_t textWidth = width > nameWidth + 2 ? width - nameWidth - 2 : 0;
    std::vector<std::string> lines;
    for (const PortState& port : state.ports) {
        std::string line = PadRight(FitKeeping(port.name, port.distinct, nameWidth), nameWidth);
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
        const std::string name = TileName(*port, nameWidth);
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
    std::string name = PadRight(TileName(port, nameWidth), nameWidth);
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
        for (const PortState* port : ports) widest = std::max(widest, TileNameWidth(*port));
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

namespace {

// The counters after the records file; narrow: the same in fewer columns, for a header where
// the file's name and the wide form do not fit together.
std::string CountersText(const StationState& state, bool narrow) {
    std::string perHour = "-";
    if (state.unitsPerHour >= 0.0) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", state.unitsPerHour);
        perHour = text;
    }
    std::string yield = "-";
    if (state.yield >= 0.0) {
        char text[16];
        std::snprintf(text, sizeof text, "%.1f %%", state.yield * 100.0);
        yield = text;
    }
    const std::string loaded = std::to_string(state.loaded);
    const std::string failed = std::to_string(state.failed);
    if (narrow) return "  loaded " + loaded + "  failed " + failed + "  yield " + yield + "  " + perHour + "/h";
    return "   loaded: " + loaded + "   failed: " + failed + "   yield: " + yield + "   units/hour: " + perHour;
}

// The header fitted to width: the records file's folder gives way first, then the counters'
// wide form; the file's own name tells one shift's file from another's and stays whole as
// long as it takes at most half the line.
std::string HeaderLine(const StationState& state, size_t width) {
    const std::string records = state.records.empty() ? std::string("none") : state.records;
    const NamePart file = LastElement(records);
    const size_t fileWidth = std::min(DisplayWidth(file.Of(records)), width / 2);
    std::string line;
    for (bool narrow : {false, true}) {
        const std::string counters = CountersText(state, narrow);
        const size_t used = DisplayWidth(kRecordsLabel) + DisplayWidth(counters);
        const size_t room = std::max(width > used ? width - used : 0, fileWidth);
        line = kRecordsLabel + FitKeeping(records, file, room) + counters;
        if (DisplayWidth(line) <= width) return line;
    }
    return CutEnd(line, width);
}

}  // namespace

std::string HeaderText(const StationState& state) {
    return kRecordsLabel + (state.records.empty() ? std::string("none") : state.records) + CountersText(state, false);
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
    lines.push_back(width < kMinColumns ? CutEnd(HeaderText(state), width) : HeaderLine(state, width));
    // What waits for the records server, on a line of its own: its reason is what the
    // operator reads there, and it would not fit beside the counters.
    const std::string server = ServerText(state.server);
    if (!server.empty() && rows > 1) lines.push_back(CutEnd(server, width));
    // A message written during the station is the last line, below the ports: written
    // between the frames it would be drawn over or break the frame apart.
    const size_t noticeRows = state.notice.empty() ? 0 : 1;
    if (rows <= lines.size() + noticeRows) return lines;
    const size_t bodyRows = rows - lines.size() - noticeRows;
    std::vector<std::string> body = !options.compact && state.ports.size() <= bodyRows && width >= kMinColumns
                                        ? FullLayout(state, width, options)
                                        : CompactLayout(state, width, bodyRows, options);
    lines.insert(lines.end(), body.begin(), body.end());
    if (noticeRows > 0) lines.push_back(CutEnd(state.notice, width));
    return lines;
}

}  // namespace board
