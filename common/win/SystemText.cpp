// FormatMessage, called here only.
#include "common/win/SystemText.h"

namespace common::win {

namespace {

constexpr DWORD kSystemLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

}  // namespace

std::string SystemMessage(DWORD errorCode) {
    char* text = nullptr;
    // Inserts are left as "%1": there are no arguments to put in their place.
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, errorCode, kSystemLanguage, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length != 0 && text != nullptr ? std::string(text, length) : std::string();
    if (text != nullptr) LocalFree(text);
    return message;
}

std::string SystemText(DWORD errorCode) {
    std::string result = SystemMessage(errorCode);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    if (result.empty()) result = "system error " + std::to_string(errorCode);
    return result;
}

std::string SystemLogText(DWORD errorCode) {
    const std::string text = SystemMessage(errorCode);
    return text.empty() ? "Error " + std::to_string(errorCode) + " (no system text)" : text;
}

}  // namespace common::win
