// The texts and sums of the file and NLEC transfers: opening packets, 16-bit sums that wrap,
// NLEC lines of at most 511 characters, and the bookkeeping of a receive against its size.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "link/PacketRecord.h"
#include "transfer/Operation.h"

namespace transfer {

// A file send moves at most this many bytes per data packet.
inline constexpr size_t kFileChunkBytes = 128;
// One NLEC line read: at most 511 characters and the terminator.
inline constexpr size_t kNlecLineBuffer = 512;
// An echoed sum of this many characters or more is not a sum at all.
inline constexpr size_t kMaxEchoTextLength = 128;
// What the log says when the unit gives up an NLEC transfer (code 8) or a local file fails it.
inline constexpr char kNlecTransferError[] = "NLEC Transfer error.";
// ProgramName keeps at most this many characters.
inline constexpr size_t kMaxProgramNameLength = 254;

// The program kind's receive request carries the program name.
bool KindCarriesProgramName(TransferKind kind);
// The unit's error (code 13) as logged for a kind, the halt line of an active session, and
// whether the unit's own text follows the halt line.
const char* FileErrorText(TransferKind kind);
const char* FileHaltText(TransferKind kind);
bool KindLogsUnitText(TransferKind kind);

// Adds each byte (0..255) to sum, modulo 65 536.
uint16_t AddToSum(uint16_t sum, const uint8_t* bytes, size_t count);

// The unit's echo of a 16-bit sum: false when the text is kMaxEchoTextLength characters or
// longer, else its low 16 bits in *sum.
bool ParseEchoedSum(const uint8_t* bytes, size_t length, uint16_t* sum);

// "kind,sum,count," that opens a file send, e.g. "25,258,3,".
std::string FormatOpeningText(TransferKind kind, uint16_t sum, int32_t count);
// The kind as decimal text, then the program name at once (none when programName is null),
// which a program receive appends; at most kMaxProgramNameLength characters of it.
std::string FormatReceiveRequest(TransferKind kind, const char* programName);

// NLEC files are text with CR LF line ends, the same on every system, so that one file
// serves the dialog and varnex alike. Files are opened in binary mode and the line ends are
// translated here, once: CR LF and a lone LF both read as one newline, and every newline is
// written as CR LF. A CR not followed by LF is an ordinary character.
//
// Reads the next NLEC line (at most 511 characters, newline included) into line; returns its
// length up to its first zero byte, or -1 at end of file or on a read error (see ferror).
int ReadNlecLine(FILE* file, char (&line)[kNlecLineBuffer]);
// Writes one fetched line and its newline; false on a write error.
bool WriteNlecLine(FILE* file, const std::string& text);

// The payload's count of a received packet, kept within the record.
size_t PayloadCount(const packetlink::PacketRecord& record);
// The bytes of a received payload up to its count or its first zero byte.
std::string PayloadText(const packetlink::PacketRecord& record);
// printf-style text, of any length.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

struct StreamSum {
    bool ok;        // false when a read error stopped the count
    uint16_t sum;   // 16-bit sum of what was read
    int32_t count;  // characters or bytes read
};
// Sums and counts an NLEC file line by line, as the lines will be sent, then rewinds it.
StreamSum SumNlecLines(FILE* file);
// Sums and counts every byte of a file, then rewinds it.
StreamSum SumFileBytes(FILE* file);

// What a receive has written against the size that the unit announced.
class ReceiveTally {
public:
    static constexpr int64_t kUnknown = -1;
    void Start() {
        announced_ = kUnknown;
        written_ = 0;
    }
    void Announce(int32_t size) { announced_ = size < 0 ? kUnknown : size; }
    // True when count more bytes stay within the announced size (or no size is known).
    bool Fits(size_t count) const {
        return announced_ == kUnknown || written_ + static_cast<int64_t>(count) <= announced_;
    }
    void Add(size_t count) { written_ += static_cast<int64_t>(count); }
    // True when a size was announced and exactly that much was written.
    bool Complete() const { return announced_ == kUnknown || written_ == announced_; }
    int64_t announced() const { return announced_; }
    int64_t written() const { return written_; }

private:
    int64_t announced_ = kUnknown;
    int64_t written_ = 0;
};

}  // namespace transfer
