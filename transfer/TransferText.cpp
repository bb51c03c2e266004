// Texts and sums of the transfers. The NLEC reader is the single place that decides what a
// line is, so the sum announced and the lines sent always cover the same characters.
#include "transfer/TransferText.h"

#include <cstring>

#include "transfer/DecimalText.h"
#include "transfer/Operation.h"

using namespace transfer;

namespace {
constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
}  // namespace

bool KindCarriesProgramName(int kind) { return kind == KIND_PROGRAM; }

const char* FileErrorText(int kind) {
    switch (kind) {
        case KIND_BITMAP: return "Bitmap Transfer error.";
        case KIND_SETTINGS: return "Settings Transfer error.";
        case KIND_PROGRAM: return "Program Transfer error.";
        default: return "Binary Transfer error.";
    }
}

const char* FileHaltText(int kind) {
    switch (kind) {
        case KIND_BITMAP: return "Bitmap transfer halted.";
        case KIND_SETTINGS: return "Settings transfer halted.";
        case KIND_PROGRAM: return "Program transfer halted.";
        default: return "Binary transfer halted.";
    }
}

bool KindLogsUnitText(int kind) { return kind == KIND_BITMAP || kind == KIND_SETTINGS || kind == KIND_PROGRAM; }

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

std::string FormatOpeningText(int kind, uint16_t sum, int32_t count) {
    return std::to_string(kind) + "," + std::to_string(static_cast<unsigned>(sum)) + "," + std::to_string(count) + ",";
}

std::string FormatReceiveRequest(int kind, const char* programName) {
    std::string text = std::to_string(kind);
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
    uint8_t block[4096];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        result.sum = AddToSum(result.sum, block, got);
        result.count += static_cast<int32_t>(got);
    }
    if (std::ferror(file)) result.ok = false;
    std::rewind(file);
    return result;
}
