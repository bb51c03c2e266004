// Fitting text into columns (see TextFit.h).
#include "board/TextFit.h"

#include <vector>

namespace board {

namespace {

bool Continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The byte offset where each code point begins, and the text's size at the end.
std::vector<size_t> CodePointStarts(const std::string& text) {
    std::vector<size_t> starts;
    for (size_t i = 0; i < text.size(); ++i) {
        // A continuation byte belongs to the code point before it, unless it stands alone.
        if (!Continuation(static_cast<unsigned char>(text[i])) || starts.empty() || i - starts.back() >= 4) {
            starts.push_back(i);
        }
    }
    starts.push_back(text.size());
    return starts;
}

}  // namespace

size_t DisplayWidth(const std::string& text) { return CodePointStarts(text).size() - 1; }

std::string ShortenMiddle(const std::string& text, size_t width) {
    const std::vector<size_t> starts = CodePointStarts(text);
    const size_t count = starts.size() - 1;
    if (count <= width) return text;
    if (width == 0) return "";
    const size_t kept = width - 1;
    const size_t head = kept * 2 / 5;
    const size_t tail = kept - head;
    return text.substr(0, starts[head]) + kEllipsis + text.substr(starts[count - tail]);
}

std::string CutEnd(const std::string& text, size_t width) {
    const std::vector<size_t> starts = CodePointStarts(text);
    const size_t count = starts.size() - 1;
    if (count <= width) return text;
    if (width == 0) return "";
    return text.substr(0, starts[width - 1]) + kEllipsis;
}

std::string PadRight(const std::string& text, size_t width) {
    const size_t used = DisplayWidth(text);
    return used >= width ? text : text + std::string(width - used, ' ');
}

}  // namespace board
