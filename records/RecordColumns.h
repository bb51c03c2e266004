// A row of the records and its columns, defined once: the file's table, the statements that
// write and read a row, and varnex records' CSV, JSON and table are all made from this list,
// in its order. A column added later names the schema version that brought it, and a file of
// an older version gains it when it is next opened for writing (RecordSchema.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace records {

// The results a row can read.
inline constexpr const char* kConfirmed = "confirmed";             // loaded and confirmed by the unit
inline constexpr const char* kDone = "done";                       // a single download or erase that ended well
inline constexpr const char* kFailed = "failed";                   // the reason says why
inline constexpr const char* kNoConfirmation = "no_confirmation";  // the unit never dropped CTS
inline constexpr const char* kStopped = "stopped";                 // Ctrl-C
inline constexpr const char* kInterrupted = "interrupted";         // never completed (power cut, kill)

struct Row {
    int64_t id = 0;
    std::string startedAt;  // UTC, ISO 8601 with milliseconds
    std::string endedAt;    // empty until completed
    std::string station;
    std::string port;       // the port's name as the operator calls it ("fixture 7"), or its device
    std::string operation;  // bootloader, software, image, erase
    std::string image;      // the image's name (empty for an erase)
    uint64_t imageSize = 0;
    std::string imageSha256;
    uint32_t baud = 0;
    uint64_t bytesSent = 0;
    std::string result = kInterrupted;
    std::string reason;  // in the words the operator saw
    uint64_t durationMs = 0;
    uint32_t unit = 0;  // the unit's number on its port
    std::string version;
    std::string device;  // the device the port was opened as ("/dev/serial/by-path/...", "COM3")
    std::string serial;  // the unit's serial as its label was scanned; "" when none was
};

enum class ColumnType { Integer, Text };

// When a column is written: SQLite's own key; as the load starts; as it ends (NULL in the file
// until then); or at both (known at the start, final at the end).
enum class Written { Key, AtStart, AtEnd, AtStartAndEnd };

// A column's value, an integer or a text as its type says.
using Value = std::variant<int64_t, std::string>;

struct Column {
    const char* name;  // in the file, in the CSV's header and as the JSON's key
    ColumnType type;
    const char* constraints;  // what follows the type in the table's definition
    // An SQL literal for a row that was not given one, or "". A column of a later version
    // needs one: the rows already in a file take it when the column is added, and it is what
    // a file of an older version reads.
    const char* defaultValue;
    Written written;
    int sinceVersion;  // the schema version that added it
    Value (*get)(const Row& row);
    void (*set)(Row* row, const Value& value);
};

// The columns of the table of loads, in their order.
const std::vector<Column>& Columns();
// The column of that name, or null.
const Column* FindColumn(const std::string& name);

}  // namespace records
