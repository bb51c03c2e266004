// Texts and sums of the transfers. The NLEC reader is the single place that decides what a
// line is, so the sum announced and the lines sent always cover the same characters.
#include "transfer/TransferText.h"

#include <cstdarg>
#include <cstring>

#include "transfer/DecimalText.h"

namespace transfer {

namespace {
constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
constexpr size_t kSumBlockBytes = 4096;  // one read of a file being summed
}  // namespace

bool KindCarriesProgramName(TransferKind kind) { return kind == TransferKind::KIND_PROGRAM; }

const char* FileErrorText(TransferKind kind) {
    switch (kind) {
        case TransferKind::KIND_BITMAP: return "Bitmap Transfer error.";
        case TransferKind::KIND_SETTINGS: return "Settings Transfer error.";
        case TransferKind::KIND_PROGRAM: return "Program Transfer error.";
        default: return "Binary Transfer error.";
    }
}

const char* FileHaltText(TransferKind kind) {
    switch (kind) {
        case TransferKind::KIND_BITMAP: return "Bitmap transfer halted.";
        case TransferKind::KIND_SETTINGS: return "Settings transfer halted.";
        case TransferKind::KIND_PROGRAM: return "Program transfer halted.";
        default: return "Binary transfer halted.";
    }
}

bool KindLogsUnitText(TransferKind kind) {
    return kind == TransferKind::KIND_BITMAP || kind == TransferKind::KIND_SETTINGS ||
           kind == TransferKind::KIND_PROGRAM;
}

uint16_t AddToSum(uint16_t sum, const uint8_t* bytes, size_t count) {
    uint32_t total = sum;
    for (size_t i = 0; i < count; ++i) total += bytes[i];
    return static_cast<uint16_t>(total);
}

bool ParseEchoedSum(const uint8_t* bytes, size_t length, uint16_t* sum) {
    if (length >= kMaxEchoTextLength) return false;
    *sum = static_cast<uint16_t>(static_cast<uint32_t>(ParseDecimalText(bytes, length)));
    return true;
}

std::string FormatOpeningText(TransferKind kind, uint16_t sum, int32_t count) {
    return std::to_string(static_cast<int32_t>(kind)) + "," + std::to_string(static_cast<unsigned>(sum)) + "," +
           std::to_string(count) + ",";
}

std::string FormatReceiveRequest(TransferKind kind, const char* programName) {
    std::string text = std::to_string(static_cast<int32_t>(kind));
    if (programName != nullptr) {
        text.append(programName, strnlen(programName, kMaxProgramNameLength));
    }
    return text;
}

int ReadNlecLine(FILE* file, char (&line)[kNlecLineBuffer]) {
    constexpr size_t kMaxCharacters = kNlecLineBuffer - 1;
    size_t stored = 0;
    while (stored < kMaxCharacters) {
        int c = std::getc(file);
        if (c == EOF) break;
        if (c == kCarriageReturn) {
            const int next = std::getc(file);
            if (next == kLineFeed) {
                c = kLineFeed;
            } else if (next != EOF) {
                std::ungetc(next, file);
            }
        }
        line[stored++] = static_cast<char>(c);
        if (c == kLineFeed) break;
    }
    line[stored] = 0;
    if (stored == 0 || std::ferror(file)) return -1;
    return static_cast<int>(std::strlen(line));  // a zero byte ends the line as it is sent
}

bool WriteNlecLine(FILE* file, const std::string& text) {
    for (const char c : text) {
        if (c == kLineFeed && std::fputc(kCarriageReturn, file) == EOF) return false;
        if (std::fputc(static_cast<unsigned char>(c), file) == EOF) return false;
    }
    return std::fputc(kCarriageReturn, file) != EOF && std::fputc(kLineFeed, file) != EOF;
}

size_t PayloadCount(const packetlink::PacketRecord& record) {
    if (record.payloadCount < 0) return 0;
    return record.payloadCount > static_cast<int>(packetlink::kMaxPayload) ? packetlink::kMaxPayload
                                                                           : static_cast<size_t>(record.payloadCount);
}

std::string PayloadText(const packetlink::PacketRecord& record) {
    const char* bytes = reinterpret_cast<const char*>(record.payload);
    return std::string(bytes, strnlen(bytes, PayloadCount(record)));
}

std::string Format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list measure;
    va_copy(measure, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(&text[0], text.size() + 1, format, arguments);
    va_end(arguments);
    return text;
}

StreamSum SumNlecLines(FILE* file) {
    StreamSum result{true, 0, 0};
    char line[kNlecLineBuffer];
    int length;
    while ((length = ReadNlecLine(file, line)) >= 0) {
        result.sum = AddToSum(result.sum, reinterpret_cast<const uint8_t*>(line), static_cast<size_t>(length));
        result.count += length;
    }
    if (std::ferror(file)) result.ok = false;
    std::rewind(file);
    return result;
}

StreamSum SumFileBytes(FILE* file) {
    StreamSum result{true, 0, 0};
    uint8_t block[kSumBlockBytes];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        result.sum = AddToSum(result.sum, block, got);
        result.count += static_cast<int32_t>(got);
    }
    if (std::ferror(file)) result.ok = false;
    std::rewind(file);
    return result;
}

}  // namespace transfer
