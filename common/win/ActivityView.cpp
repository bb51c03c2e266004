// Log lines are formatted here, with the system's text for an error code, so every piece of
// glue reports in the same words.
#include "common/win/ActivityView.h"

#include <cstdarg>
#include <cstdio>

#include "common/win/SystemText.h"

namespace common::win {

namespace {

// The whole formatted text: measured first, then written into a string of that size.
std::string FormatLine(const char* format, va_list arguments) {
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length <= 0) return std::string();  // empty, or a format the library refused
    std::string line(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(&line[0], line.size(), format, arguments);
    line.resize(static_cast<size_t>(length));
    return line;
}

}  // namespace

void LogLine(ActivityView& view, DWORD errorCode, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const std::string line = FormatLine(format, arguments);
    va_end(arguments);
    view.AddLine(line);
    if (errorCode == 0) return;
    view.AddLine(SystemLogText(errorCode));
}

void LogEngineLine(ActivityView& view, const std::string& line, std::error_code error) {
    if (!error || error.category() == std::system_category()) {
        LogLine(view, static_cast<DWORD>(error.value()), "%s", line.c_str());
        return;
    }
    view.AddLine(line);
    view.AddLine(error.message());
}

}  // namespace common::win
