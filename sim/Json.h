// JSON for the simulator's control channel and event log (nlohmann-json, key order kept as
// written): one request or event per line, read with bounded nesting and written as one
// ASCII-only line whatever bytes the unit or the PC sent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace sim {

using Json = nlohmann::ordered_json;

// Deepest nesting a control request or scenario line may have.
constexpr int kMaxJsonDepth = 32;

// Parses one JSON text; on failure returns false and says why in *error.
bool parseJson(std::string_view text, Json& out, std::string& error);
// The value as one line; text that is not UTF-8 is shown with replacement characters
// instead of failing.
std::string jsonLine(const Json& value);
// The member named key, or null when it is absent or value is no object.
const Json* member(const Json& value, std::string_view key);

std::string toHex(const uint8_t* data, size_t size);
inline std::string toHex(const std::vector<uint8_t>& bytes) { return toHex(bytes.data(), bytes.size()); }
// Accepts hex digits with optional blanks between bytes ("7e 7e 48" or "7e7e48").
bool fromHex(std::string_view text, std::vector<uint8_t>& out);

}  // namespace sim
