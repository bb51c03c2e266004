// The web board's optional token: read from a file (never from the command line, where any
// user of the machine sees it), carried by every request as a cookie (set once by opening
// /?token=...) or as "Authorization: Bearer ...", and compared in constant time.
#pragma once

#include <string>

namespace web {

inline constexpr const char* kTokenCookie = "varnex_board_token";
inline constexpr size_t kMinTokenChars = 16;
inline constexpr size_t kMaxTokenChars = 256;
// The cookie lasts half a year from its last use.
inline constexpr long kTokenCookieSeconds = 183L * 24 * 60 * 60;

// The token: the file's first line without surrounding blanks. False with *error naming the
// file and what is wrong (unreadable, empty, too short or long, characters a cookie cannot carry).
bool ReadTokenFile(const std::string& path, std::string* token, std::string* error);

// Whether the two are equal, in a time that depends on their lengths only.
bool SameToken(const std::string& given, const std::string& token);

// The token a request carries in its Cookie header (kTokenCookie) or its Authorization
// header (Bearer); "" when none. Either header may be null.
std::string TokenOf(const char* cookieHeader, const char* authorizationHeader);

// The Set-Cookie value that keeps the token in the browser for this station only, for
// kTokenCookieSeconds.
std::string TokenCookie(const std::string& token);

}  // namespace web
