// Fitting text into terminal columns: widths counted in characters (UTF-8 code points, one
// column each), a long name shortened in its middle and a long text cut at its end, both
// marked with "…", so nothing written is wider than asked and nothing wraps.
#pragma once

#include <cstddef>
#include <string>

namespace board {

inline constexpr const char* kEllipsis = "\xE2\x80\xA6";  // "…", one column

// The columns text takes (its code points; bytes that are not UTF-8 count one each).
size_t DisplayWidth(const std::string& text);
// Text as it is when it fits width, else its head and tail around "…"; the tail gets the
// larger share, as names differ most at their end (".../usb-FTDI…A50185BI-if00-port0").
std::string ShortenMiddle(const std::string& text, size_t width);
// Text as it is when it fits width, else its head and "…".
std::string CutEnd(const std::string& text, size_t width);
// Text padded with spaces to width (never cut).
std::string PadRight(const std::string& text, size_t width);

}  // namespace board
