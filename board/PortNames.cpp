// The parts that tell ports apart (see PortNames.h). udev's by-id names end in the adapter's
// serial and its interface ("usb-FTDI_FT232R_USB_UART_A50085BI-if00-port0"), its by-path names
// carry the USB bus and hub ports ("pci-0000:00:14.0-usb-0:1.4.2:1.0-port0"): those two are
// read by pattern, as the shared-part rule would cut a serial where two serials happen to
// share characters.
#include "board/PortNames.h"

#include <algorithm>
#include <map>
#include <regex>

#include "board/TextFit.h"

namespace board {

namespace {

// The serial: the last "_"-separated field before the interface.
const std::regex kById(R"(^usb-.*_([^_]+)-if[0-9A-Fa-f]{2}(-port[0-9]+)?$)");
// The hub position: the ports after the bus number, before the configuration and interface.
const std::regex kByPath(R"(^.*-usb(v[0-9]+)?-[0-9]+:([0-9]+(\.[0-9]+)*):[0-9]+\.[0-9]+(-port[0-9]+)?$)");
constexpr size_t kByPathHubGroup = 2;

size_t BaseStart(const std::string& name) {
    const size_t slash = name.find_last_of("/\\");
    return slash == std::string::npos || slash + 1 == name.size() ? 0 : slash + 1;
}

bool Separator(char c) { return c == '/' || c == '\\' || c == ' ' || c == '_' || c == '-' || c == '.' || c == ':'; }

// A by-id or by-path name's part, read from its last path element; false for other names.
bool PatternPart(const std::string& name, NamePart* part) {
    const size_t base = BaseStart(name);
    const std::string last = name.substr(base);
    std::smatch match;
    if (std::regex_match(last, match, kById)) {
        *part = {base + static_cast<size_t>(match.position(1)), static_cast<size_t>(match.length(1))};
        return true;
    }
    if (std::regex_match(last, match, kByPath)) {
        *part = {base + static_cast<size_t>(match.position(kByPathHubGroup)),
                 static_cast<size_t>(match.length(kByPathHubGroup))};
        return true;
    }
    return false;
}

// Names of no known pattern: each less the beginning and end that all of them share, cut at a
// separator so that no word is split ("ttyUSB10" stays whole beside "ttyUSB11").
void DropSharedParts(const std::vector<std::string>& names, const std::vector<size_t>& which,
                     std::vector<NamePart>* parts) {
    if (which.size() < 2) {
        for (size_t index : which) {
            const size_t base = BaseStart(names[index]);
            (*parts)[index] = {base, names[index].size() - base};
        }
        return;
    }
    size_t shortest = names[which.front()].size();
    for (size_t index : which) shortest = std::min(shortest, names[index].size());
    const std::string& first = names[which.front()];
    size_t prefix = 0;
    while (prefix < shortest &&
           std::all_of(which.begin(), which.end(), [&](size_t i) { return names[i][prefix] == first[prefix]; })) {
        ++prefix;
    }
    while (prefix > 0 && !Separator(first[prefix - 1])) --prefix;
    size_t suffix = 0;
    auto fromEnd = [&](size_t i, size_t back) { return names[i][names[i].size() - 1 - back]; };
    while (suffix < shortest - prefix && std::all_of(which.begin(), which.end(), [&](size_t i) {
               return fromEnd(i, suffix) == fromEnd(which.front(), suffix);
           })) {
        ++suffix;
    }
    while (suffix > 0 && !Separator(first[first.size() - suffix])) --suffix;
    for (size_t index : which) {
        const std::string& name = names[index];
        const size_t end = name.size() - suffix;
        if (end > prefix) {
            (*parts)[index] = {prefix, end - prefix};
        } else {  // the same name twice: nothing sets it apart but its place
            const size_t base = BaseStart(name);
            (*parts)[index] = {base, name.size() - base};
        }
    }
}

}  // namespace

std::vector<NamePart> DistinctParts(const std::vector<std::string>& names) {
    std::vector<NamePart> parts(names.size());
    std::map<std::string, std::vector<size_t>> byFolder;  // names of no known pattern
    for (size_t index = 0; index < names.size(); ++index) {
        if (!PatternPart(names[index], &parts[index])) {
            byFolder[names[index].substr(0, BaseStart(names[index]))].push_back(index);
        }
    }
    for (const auto& folder : byFolder) DropSharedParts(names, folder.second, &parts);
    // One adapter with several ports shares its serial among them: the interface that follows
    // tells them apart ("A50085BI-if01-port0"). Any other part that two ports still share
    // gives way to the whole name.
    for (bool whole : {false, true}) {
        std::map<std::string, size_t> seen;
        for (size_t index = 0; index < names.size(); ++index) ++seen[parts[index].Of(names[index])];
        for (size_t index = 0; index < names.size(); ++index) {
            if (seen[parts[index].Of(names[index])] < 2) continue;
            if (whole) parts[index].start = 0;
            parts[index].length = names[index].size() - parts[index].start;
        }
    }
    return parts;
}

std::string FitKeeping(const std::string& name, NamePart part, size_t width) {
    if (DisplayWidth(name) <= width) return name;
    const std::string head = name.substr(0, part.start);
    const std::string kept = part.Of(name);
    const std::string tail = name.substr(std::min(name.size(), part.start + part.length));
    const size_t keptWidth = DisplayWidth(kept);
    if (keptWidth > width) return ShortenMiddle(kept, width);
    const size_t room = width - keptWidth;
    const size_t tailWidth = DisplayWidth(tail);
    // The end of a name says most after the part (its interface, its port): it goes whole
    // first, and the beginning gets what is left, cut at its end.
    if (head.empty()) return kept + CutEnd(tail, room);
    if (tailWidth < room) return CutEnd(head, room - tailWidth) + kept + tail;
    if (room == 0) return kept;
    return kEllipsis + kept + CutEnd(tail, room - 1);
}

}  // namespace board
