#include "common/win/SystemText.h"

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
