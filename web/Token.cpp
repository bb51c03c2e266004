// The token's file, its comparison and where a request carries it (see Token.h).
#include "web/Token.h"

#include <cctype>
#include <fstream>

namespace web {

namespace {

constexpr const char* kBearer = "Bearer ";
constexpr const char* kBlanks = " \t\r\n";

// Characters a cookie value carries as they are: RFC 6265's cookie-octet set less the few that
// need care in a URL (so /?token= needs no escaping either).
bool TokenChar(unsigned char c) { return std::isalnum(c) != 0 || c == '-' || c == '_' || c == '.' || c == '~'; }

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

bool ReadTokenFile(const std::string& path, std::string* token, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "--http-token-file " + path + ": cannot be read";
        return false;
    }
    std::string line;
    std::getline(file, line);
    line = Trim(line);
    if (line.size() < kMinTokenChars || line.size() > kMaxTokenChars) {
        *error = "--http-token-file " + path + ": its first line must hold a token of " +
                 std::to_string(kMinTokenChars) + " to " + std::to_string(kMaxTokenChars) + " characters";
        return false;
    }
    for (unsigned char c : line) {
        if (!TokenChar(c)) {
            *error = "--http-token-file " + path + ": a token holds only letters, digits and - _ . ~";
            return false;
        }
    }
    *token = line;
    return true;
}

bool SameToken(const std::string& given, const std::string& token) {
    // Every byte of the longer is looked at whatever differs, so the time tells nothing of
    // how much of a guess was right.
    const size_t length = given.size() > token.size() ? given.size() : token.size();
    unsigned difference = given.size() == token.size() ? 0u : 1u;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char a = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        const unsigned char b = i < token.size() ? static_cast<unsigned char>(token[i]) : 0;
        difference |= static_cast<unsigned>(a ^ b);
    }
    return !token.empty() && difference == 0;
}

std::string TokenOf(const char* cookieHeader, const char* authorizationHeader) {
    if (authorizationHeader != nullptr) {
        const std::string value = Trim(authorizationHeader);
        const std::string bearer(kBearer);
        if (value.compare(0, bearer.size(), bearer) == 0) return Trim(value.substr(bearer.size()));
    }
    if (cookieHeader == nullptr) return "";
    const std::string cookies(cookieHeader);
    const std::string name = std::string(kTokenCookie) + "=";
    size_t start = 0;
    while (start < cookies.size()) {
        size_t end = cookies.find(';', start);
        if (end == std::string::npos) end = cookies.size();
        const std::string pair = Trim(cookies.substr(start, end - start));
        if (pair.compare(0, name.size(), name) == 0) return pair.substr(name.size());
        start = end + 1;
    }
    return "";
}

std::string TokenCookie(const std::string& token) {
    // Lax: a link from the line's other pages brings the board with its token; a lifetime, so
    // that a tablet's browser keeps it past its session (renewed on use).
    return std::string(kTokenCookie) + "=" + token + "; Path=/; Max-Age=" + std::to_string(kTokenCookieSeconds) +
           "; HttpOnly; SameSite=Lax";
}

}  // namespace web
