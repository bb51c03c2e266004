// Decimal text reading for the transfer handlers; bounded by the length given, never past it.
#include "transfer/DecimalText.h"

#include <cstring>

namespace transfer {

namespace {
bool IsBlank(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr uint32_t kDecimalBase = 10;
}  // namespace

int32_t ParseDecimalText(const uint8_t* text, size_t length) {
    if (text == nullptr) return 0;
    size_t i = 0;
    while (i < length && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    uint32_t value = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * kDecimalBase + static_cast<uint32_t>(text[i] - '0');
    }
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
}

int32_t ParseDecimalText(const char* text) {
    if (text == nullptr) return 0;
    return ParseDecimalText(reinterpret_cast<const uint8_t*>(text), std::strlen(text));
}

}  // namespace transfer
